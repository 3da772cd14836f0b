#include "platform/x11/X11Desktop.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t *connection()
{
    auto *application = qGuiApp;
    if (!application)
        return nullptr;
    auto *x11 = application->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *c, const QByteArray &name)
{
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, quint16(name.size()), name.constData()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t windowId(QWindow *window)
{
    return window ? xcb_window_t(window->winId()) : xcb_window_t(XCB_WINDOW_NONE);
}

xcb_window_t firstRoot(xcb_connection_t *c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

xcb_window_t rootOf(xcb_connection_t *c, xcb_window_t window)
{
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
    return tree ? tree->root : firstRoot(c);
}

// Every 32-bit item of a window property; empty when it is missing or of another format.
QList<quint32> cardinals(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property,
                         xcb_atom_t type)
{
    QList<quint32> values;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, type, 0, 1024), nullptr));
    if (!reply || reply->format != 32 || reply->type != type)
        return values;
    const int n = xcb_get_property_value_length(reply.get()) / 4;
    const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    values.reserve(n);
    for (int i = 0; i < n; ++i)
        values.append(data[i]);
    return values;
}

// An EWMH request: a client message about the window, sent to its root window.
void sendMessage(xcb_connection_t *c, xcb_window_t window, xcb_atom_t type,
                 std::initializer_list<quint32> data)
{
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    int i = 0;
    for (quint32 value : data)
        event.data.data32[i++] = value;
    xcb_send_event(c, 0, rootOf(c, window),
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(c);
}

// Source indication of EWMH requests: a normal application.
constexpr quint32 fromApplication = 1;
constexpr quint32 stateAdd = 1;

}

bool X11Desktop::available()
{
    return connection() != nullptr;
}

void X11Desktop::keepOnAllDesktopsBeforeShow(QWindow *window)
{
    addStatesBeforeShow(window, {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR",
                                 "_NET_WM_STATE_SKIP_PAGER"});
    setDesktopBeforeShow(window, allDesktops);
}

void X11Desktop::keepOnAllDesktopsAfterShow(QWindow *window)
{
    requestStates(window, "_NET_WM_STATE_STICKY");
    requestDesktop(window, allDesktops);
    requestStates(window, "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER");
    keepAboveAfterShow(window);
}

void X11Desktop::keepAboveAfterShow(QWindow *window)
{
    if (window && window->flags().testFlag(Qt::WindowStaysOnTopHint))
        requestStates(window, "_NET_WM_STATE_ABOVE");
}

void X11Desktop::addStatesBeforeShow(QWindow *window, const QList<QByteArray> &states)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    const xcb_window_t id = windowId(window);
    const xcb_atom_t property = atom(c, "_NET_WM_STATE");
    QList<quint32> atoms = cardinals(c, id, property, XCB_ATOM_ATOM);
    for (const QByteArray &state : states) {
        const xcb_atom_t a = atom(c, state);
        if (a != XCB_ATOM_NONE && !atoms.contains(a))
            atoms.append(a);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, property, XCB_ATOM_ATOM, 32,
                        quint32(atoms.size()), atoms.constData());
    xcb_flush(c);
}

void X11Desktop::setDesktopBeforeShow(QWindow *window, quint32 desktop)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, windowId(window), atom(c, "_NET_WM_DESKTOP"),
                        XCB_ATOM_CARDINAL, 32, 1, &desktop);
    xcb_flush(c);
}

void X11Desktop::requestStates(QWindow *window, const QByteArray &first, const QByteArray &second)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    const xcb_atom_t secondAtom = second.isEmpty() ? xcb_atom_t(XCB_ATOM_NONE) : atom(c, second);
    sendMessage(c, windowId(window), atom(c, "_NET_WM_STATE"),
                {stateAdd, atom(c, first), secondAtom, fromApplication});
}

void X11Desktop::requestDesktop(QWindow *window, quint32 desktop)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    sendMessage(c, windowId(window), atom(c, "_NET_WM_DESKTOP"), {desktop, fromApplication});
}

std::optional<quint32> X11Desktop::windowDesktop(QWindow *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return std::nullopt;
    const QList<quint32> values =
        cardinals(c, windowId(window), atom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL);
    if (values.isEmpty())
        return std::nullopt;
    return values.constFirst();
}

std::optional<quint32> X11Desktop::currentDesktop()
{
    xcb_connection_t *c = connection();
    if (!c)
        return std::nullopt;
    const QList<quint32> values =
        cardinals(c, firstRoot(c), atom(c, "_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL);
    if (values.isEmpty())
        return std::nullopt;
    return values.constFirst();
}

bool X11Desktop::isOnCurrentDesktop(QWindow *window)
{
    const std::optional<quint32> desktop = windowDesktop(window);
    const std::optional<quint32> current = currentDesktop();
    if (!desktop || !current || *desktop == allDesktops)
        return true;
    return *desktop == *current;
}

bool X11Desktop::hasState(QWindow *window, const QByteArray &state)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return false;
    return cardinals(c, windowId(window), atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM)
        .contains(atom(c, state));
}

bool X11Desktop::supports(const QByteArray &name)
{
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    return cardinals(c, firstRoot(c), atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM)
        .contains(atom(c, name));
}

bool X11Desktop::isViewable(QWindow *window)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return false;
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        c, xcb_get_window_attributes(c, windowId(window)), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool X11Desktop::compositingManagerRunning(QWindow *window)
{
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    const xcb_window_t root = window ? rootOf(c, windowId(window)) : firstRoot(c);
    int screen = 0;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
        if (it.data->root == root)
            break;
        ++screen;
    }
    const xcb_atom_t selection = atom(c, "_NET_WM_CM_S" + QByteArray::number(screen));
    Reply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        c, xcb_get_selection_owner(c, selection), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}
