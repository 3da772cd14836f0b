// libFuzzer target for Firefox's session-restore file. Half the inputs are taken as the file
// itself (mozLz4 frame and LZ4 block as found on disk); the other half as the JSON inside,
// which is packed into a sound frame first and must come back unchanged. The session read
// lists only tabs with an address, and the front tab is one of them.
#include "FuzzInput.h"

#include "platform/FirefoxSession.h"

#include <lz4.h>

namespace {

QByteArray frame(const QByteArray &json)
{
    QByteArray file("mozLz40\0", 8);
    const quint32 size = quint32(json.size());
    for (int shift = 0; shift < 32; shift += 8)
        file.append(char((size >> shift) & 0xFF));
    QByteArray block(LZ4_compressBound(int(json.size())), Qt::Uninitialized);
    const int packed = LZ4_compress_default(json.constData(), block.data(), int(json.size()), int(block.size()));
    check(packed > 0);
    return file + block.first(packed);
}

void checkSession(const FirefoxSession::Session &session)
{
    for (const BrowserPage &page : session.tabs)
        check(!page.url.isEmpty());
    if (session.front)
        check(session.tabs.contains(*session.front));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const bool packJson = input.byte() % 2;
    const QByteArray bytes = input.rest();

    std::optional<QByteArray> json;
    if (packJson) {
        if (bytes.isEmpty())
            return 0;
        json = FirefoxSession::decode(frame(bytes));
        check(json == bytes);
    } else {
        json = FirefoxSession::decode(bytes);
        if (json)
            check(!json->isEmpty() && json->size() <= FirefoxSession::maxDecodedSize);
    }
    if (json) {
        if (const std::optional<FirefoxSession::Session> session = FirefoxSession::parse(*json))
            checkSession(*session);
    }
    FirefoxSession::lockPid(bytes.left(64));
    check(FirefoxSession::lockPid(bytes.left(64)) >= 0);
    return 0;
}
