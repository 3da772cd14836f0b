// libFuzzer target for a Chromium-family browser's DevTools answers: the DevToolsActivePort
// file, then the /json/list listing. A port is always 1 to 65535 and is the file's first line;
// the listing gives at most one page per entry.
#include "FuzzInput.h"

#include "platform/ChromiumDevTools.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const QByteArray portFile = input.part();
    if (const std::optional<quint16> port = ChromiumDevTools::port(portFile)) {
        check(*port >= 1);
        check(portFile.contains(QByteArray::number(*port)));
    }
    const QByteArray listing = input.rest();
    // (Qt's reader takes "pag\e" for "page": no promise can be checked on the raw text.)
    const QList<BrowserPage> pages = ChromiumDevTools::parseListing(listing);
    check(pages.size() <= listing.size());
    return 0;
}
