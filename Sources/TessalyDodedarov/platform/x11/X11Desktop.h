#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

class QWindow;

// The window-manager conventions (EWMH) our windows rely on under X11: which desktop a window
// is on, keeping a window on every desktop and off the taskbar and pager, and whether a
// compositing manager runs. Everything is a no-op or "unknown" when the application does not
// run on X11 (Wayland, offscreen). Main thread only.
class X11Desktop final {
public:
    X11Desktop() = delete;

    // The desktop number that means "every desktop".
    static constexpr quint32 allDesktops = 0xFFFFFFFF;

    static bool available();

    // For a window about to be shown (unmapped): puts it on every desktop and off the taskbar
    // and pager through its own properties, which the window manager reads when it maps.
    static void keepOnAllDesktopsBeforeShow(QWindow *window);
    // For a shown window: the same as client messages, and keepAboveAfterShow. Window managers
    // drop the properties when a window is withdrawn, and some honour only the messages.
    static void keepOnAllDesktopsAfterShow(QWindow *window);
    // For a shown window that asks to stay on top: asks for _NET_WM_STATE_ABOVE again. Qt puts
    // it in the property before mapping, but after a quick hide and show the window manager
    // may erase that property for the withdrawal it is still processing, and then map the
    // window without it.
    static void keepAboveAfterShow(QWindow *window);

    // Adds _NET_WM_STATE atoms to an unmapped window's property, keeping those already there.
    static void addStatesBeforeShow(QWindow *window, const QList<QByteArray> &states);
    // Sets _NET_WM_DESKTOP on an unmapped window.
    static void setDesktopBeforeShow(QWindow *window, quint32 desktop);
    // Asks the window manager to add one or two states to a mapped window.
    static void requestStates(QWindow *window, const QByteArray &first,
                              const QByteArray &second = {});
    // Asks the window manager to move a mapped window to a desktop.
    static void requestDesktop(QWindow *window, quint32 desktop);

    // The window's _NET_WM_DESKTOP; nothing when unset or without X11.
    static std::optional<quint32> windowDesktop(QWindow *window);
    // The root window's _NET_CURRENT_DESKTOP; nothing when no window manager sets it.
    static std::optional<quint32> currentDesktop();
    // Whether the window is on the desktop the user sees: on it, on every desktop, or nothing
    // known that says otherwise.
    static bool isOnCurrentDesktop(QWindow *window);

    // Whether the window's _NET_WM_STATE holds the atom, e.g. "_NET_WM_STATE_ABOVE".
    static bool hasState(QWindow *window, const QByteArray &state);
    // Whether the window manager lists the atom in _NET_SUPPORTED.
    static bool supports(const QByteArray &atom);
    // Whether the window is mapped and all its ancestors too (the user can see it).
    static bool isViewable(QWindow *window);
    // Whether a compositing manager owns _NET_WM_CM_S<n> for the window's screen; without
    // one, translucent windows show garbage or black behind them.
    static bool compositingManagerRunning(QWindow *window);
};
