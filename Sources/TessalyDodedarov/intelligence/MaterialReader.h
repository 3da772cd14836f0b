#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// Downloads one web page as text for the meeting background: the page a note links to, or the
// video page being listened to. It asks as a desktop browser preferring Chinese, so a video
// site returns the desktop page whose player data holds the title and description. Every
// failure answers "no page". Main thread: all fetches share one network manager, run side by
// side, and answer on the main thread, never from inside the call.
class MaterialReader final {
public:
    MaterialReader() = delete;

    using PageHandler = std::function<void(const std::optional<QString> &page)>;

    static void fetchPage(const QUrl &url, PageHandler done);

    // The body as text, by the first rule that applies: a byte-order mark; the charset of the
    // Content-Type header; a <meta> charset in the first 4 KiB; else UTF-8 when it is valid,
    // GB18030 when that reads without error, windows-1252 last. Latin-1 and ASCII labels read as
    // windows-1252, as in browsers. A declared charset that is unknown or does not read without
    // error counts as not declared there.
    static QString decode(const QByteArray &body, const QByteArray &contentType);
    // Whether a response of this Content-Type can be a page (text/*, application/xhtml+xml,
    // or no type at all).
    static bool readableType(const QByteArray &contentType);

    static inline const QByteArray userAgent =
        "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_0) AppleWebKit/605.1.15 (KHTML, like Gecko) "
        "Version/17.0 Safari/605.1.15";
    static inline const QByteArray acceptLanguage = "zh-CN,zh;q=0.9,en;q=0.8";

    // Bytes kept of a page; the rest is never downloaded. Page text and a video's description
    // come early in the page.
    static constexpr qint64 sizeLimit = 5 * 1024 * 1024;
    // Seconds without any byte from the server, and seconds for the whole fetch. Tests shorten them.
    static inline double idleTimeout = 20.0;
    static inline double totalTimeout = 60.0;
};
