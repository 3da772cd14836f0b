// libFuzzer target for fetched pages: a Content-Type header, a note, then the body as bytes.
// The body is decoded into text by its declared or detected charset, then read the way the
// background reader reads a linked page: the video player's data, or the visible text.
#include "FuzzInput.h"

#include "intelligence/BackgroundLogic.h"
#include "intelligence/MaterialReader.h"
#include "intelligence/TextCut.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const QByteArray contentType = input.part();
    const QString note = input.text();
    const QByteArray body = input.rest();

    MaterialReader::readableType(contentType);
    const QString html = MaterialReader::decode(body, contentType);
    // A byte-order mark settles the charset before anything the server or the page says.
    // (A stateful decoder holds back a sequence cut off at the end: compare sound text only.)
    if (body.startsWith("\xEF\xBB\xBF")) {
        const QString utf8 = QString::fromUtf8(body.sliced(3));
        if (utf8.toUtf8() == body.sliced(3))
            check(html == utf8);
    }
    // Text that declares nothing and is valid UTF-8 is read as UTF-8.
    if (contentType.isEmpty() && !body.toLower().contains("charset")
        && !body.startsWith("\xFE\xFF") && !body.startsWith("\xFF\xFE")) {
        const QString utf8 = QString::fromUtf8(body);
        if (utf8.toUtf8() == body)
            check(html == utf8);
    }

    const QString text = BackgroundLogic::pageText(html);
    check(!TextCut::longerThan(text, 8000));
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        check(!line.isEmpty());
        check(!line.startsWith(u' ') && !line.endsWith(u' '));
    }
    if (const std::optional<BackgroundLogic::Video> video = BackgroundLogic::youtube(html))
        (void)video;
    BackgroundLogic::jsonString(QStringLiteral("\"shortDescription\":"), html);

    if (const std::optional<QUrl> link = BackgroundLogic::link(note)) {
        check(link->isValid());
        check(BackgroundLogic::linkText(note).has_value());
    }
    BackgroundLogic::material(note, html);
    return 0;
}
