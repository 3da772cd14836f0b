#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A window on the test session's X server made the active one, as a window manager would: the
// test chooses its WM_CLASS, _NET_WM_NAME and _NET_WM_PID, and the root window's
// _NET_ACTIVE_WINDOW names it. Xvfb runs no window manager, so the fixture sets that itself, and
// clears it again when it goes.
class FakeFrontWindow final {
public:
    struct Spec {
        QByteArray instance;
        QByteArray windowClass;
        std::optional<QString> title;
        std::optional<quint32> pid;
    };

    // Connects to the display named by DISPLAY; isValid() is false without one.
    FakeFrontWindow();
    ~FakeFrontWindow();
    FakeFrontWindow(const FakeFrontWindow &) = delete;
    FakeFrontWindow &operator=(const FakeFrontWindow &) = delete;

    // Whether the session names a display at all; a test without one is skipped, while a named
    // display that cannot be reached is a failure.
    static bool sessionHasDisplay();
    bool isValid() const;
    // Creates a window with these properties and makes it the active one.
    bool show(const Spec &spec);
    // Sets the root's _NET_ACTIVE_WINDOW to no window.
    bool clearActive();

private:
    struct Connection;
    Connection *m_x = nullptr;
};
