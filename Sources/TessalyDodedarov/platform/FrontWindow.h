#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The X11 window that has the focus, when it belongs to a browser we can read. The window
// manager names the active window in the root window's _NET_ACTIVE_WINDOW; the browser is told
// by the window's WM_CLASS class. Without a display, or on a pure Wayland session where no X11
// window is active, there is no front window. Blocking: callers run it on a worker thread.
class FrontWindow final {
public:
    FrontWindow() = delete;

    enum class Browser { firefox, chrome, chromium, edge, brave };

    struct Window {
        Browser browser = Browser::firefox;
        QString title; // _NET_WM_NAME
        qint64 pid = 0; // _NET_WM_PID; 0 when the window does not say
    };

    // The X display to ask; empty means the session's own display.
    static inline QString displayName;

    // The active window of that display, when it is a browser's.
    static std::optional<Window> read(const QString &display);
    // The browser a WM_CLASS class names (case-insensitive); none for any other application.
    static std::optional<Browser> browserOfClass(const QByteArray &windowClass);
};
