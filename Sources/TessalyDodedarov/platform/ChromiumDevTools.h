#pragma once

#include "platform/BrowserPage.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The open pages of a Chromium-family browser (Chrome, Chromium, Edge, Brave), read from the
// DevTools listing it serves on 127.0.0.1 while remote debugging is on. The browser writes the
// port to "DevToolsActivePort" in its configuration folder; without that file nothing is asked,
// and no port is ever guessed. Only the plain listing is read, never the WebSocket: we look at
// the tabs, we never drive the browser. Blocking: callers run it on a worker thread.
class ChromiumDevTools final {
public:
    ChromiumDevTools() = delete;

    // The folder holding the browsers' configuration folders; empty means the XDG config home.
    static inline QString configHome;
    // A browser's configuration folder ("google-chrome") under that folder. Read it on the
    // caller's thread and hand it to the worker.
    static QString folderOf(const QString &browserFolder);

    // Largest listing read; a longer answer gives no pages.
    static constexpr qint64 maxListingSize = 4 * 1024 * 1024;

    // The port in the text of a DevToolsActivePort file: its first line, 1 to 65535.
    static std::optional<quint16> port(const QByteArray &portFile);
    // The port the file in a browser's configuration folder names, if any.
    static std::optional<quint16> portOf(const QString &folder);
    // The "page" entries of a /json/list answer, in its order; none when it is not a listing.
    static QList<BrowserPage> parseListing(const QByteArray &json);
    // Asks the browser whose configuration folder is given for its listing, giving up after
    // `limitMs`. No pages when the browser is not listening or its answer is not usable.
    static QList<BrowserPage> read(const QString &folder, int limitMs);
};
