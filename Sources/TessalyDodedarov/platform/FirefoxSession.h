#pragma once

#include "platform/BrowserPage.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Firefox's open tabs, read from the session-restore file that a running Firefox rewrites
// about every 15 s (so what it lists can be that old; private windows never appear in it).
// Only profiles whose lock names a live process count as running; a profile Firefox has
// left behind would otherwise list the tabs of its last run. Everything here is synchronous
// and blocking: callers run it on a worker thread.
class FirefoxSession final {
public:
    FirefoxSession() = delete;

    // The tabs of one session file: window by window, tab by tab, each tab's current entry.
    struct Session {
        QList<BrowserPage> tabs;
        std::optional<BrowserPage> front; // the selected tab of the selected window
    };

    struct Profile {
        QString folder;
        qint64 pid = 0; // the Firefox process that holds the lock; 0 when it holds none
    };

    struct Running {
        qint64 pid = 0;
        Session session;
    };

    // Firefox's folder holding profiles.ini; empty means ~/.mozilla/firefox.
    static inline QString firefoxFolder;
    // That folder, resolved. Read it on the caller's thread and hand it to the worker.
    static QString folder();

    // Caps on a session file before and after decoding.
    static constexpr qint64 maxFileSize = 64 * 1024 * 1024;
    static constexpr qint64 maxDecodedSize = 256 * 1024 * 1024;

    // The profiles listed in a Firefox folder's profiles.ini, in file order, with the PID their
    // lock names.
    static QList<Profile> profiles(const QString &firefoxFolder);
    // The sessions of the running profiles, in profiles.ini order. Unreadable ones are left out.
    static QList<Running> read(const QString &firefoxFolder);

    // The PID a "lock" symlink target names ("address:+PID" or "address:PID"); 0 when none.
    static qint64 lockPid(const QByteArray &target);
    // The JSON inside a mozLz4 file; none when the frame or the block is not sound.
    static std::optional<QByteArray> decode(const QByteArray &file);
    // The tabs of a session JSON text; none when it is not a session.
    static std::optional<Session> parse(const QByteArray &json);
    // Reads, decodes and parses one session file; none when any step fails.
    static std::optional<Session> readFile(const QString &path);
};
