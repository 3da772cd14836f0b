#include "platform/FrontWindow.h"

#include <QList>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FreeReply {
    void operator()(void *reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

struct Disconnect {
    void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
};

xcb_atom_t existingAtom(xcb_connection_t *connection, const char *name)
{
    // Only an atom that exists: one nobody created names no property anywhere, and asking must
    // not add atoms to the user's server.
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 1, uint16_t(qstrlen(name)), name);
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The bytes of a property of format `format` and type `type`, at most `maxLongs` 32-bit units.
std::optional<QByteArray> property(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t name,
                                   xcb_atom_t type, uint8_t format, uint32_t maxLongs)
{
    if (name == XCB_ATOM_NONE || type == XCB_ATOM_NONE)
        return std::nullopt;
    const xcb_get_property_cookie_t cookie = xcb_get_property(connection, 0, window, name, type, 0, maxLongs);
    xcb_generic_error_t *error = nullptr;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, &error));
    std::free(error);
    if (!reply || reply->type != type || reply->format != format)
        return std::nullopt;
    const int length = xcb_get_property_value_length(reply.get());
    if (length <= 0)
        return std::nullopt;
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())), length);
}

std::optional<quint32> cardinal(const std::optional<QByteArray> &bytes)
{
    if (!bytes || bytes->size() < qsizetype(sizeof(quint32)))
        return std::nullopt;
    quint32 value = 0;
    std::memcpy(&value, bytes->constData(), sizeof value); // the server's reply is in our byte order
    return value;
}

} // namespace

std::optional<FrontWindow::Browser> FrontWindow::browserOfClass(const QByteArray &windowClass)
{
    const QByteArray name = windowClass.toLower();
    if (name == "firefox" || name == "firefox-esr")
        return Browser::firefox;
    if (name == "google-chrome" || name == "google-chrome-beta" || name == "google-chrome-unstable")
        return Browser::chrome;
    if (name == "chromium" || name == "chromium-browser")
        return Browser::chromium;
    if (name == "microsoft-edge" || name == "microsoft-edge-beta" || name == "microsoft-edge-dev")
        return Browser::edge;
    if (name == "brave-browser")
        return Browser::brave;
    return std::nullopt;
}

std::optional<FrontWindow::Window> FrontWindow::read(const QString &displayToAsk)
{
    const QByteArray display = displayToAsk.toLocal8Bit();
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, Disconnect> connection(
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber));
    // xcb_connect never returns null; a failed connection is an object in an error state.
    if (!connection || xcb_connection_has_error(connection.get()))
        return std::nullopt;
    xcb_connection_t *c = connection.get();

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem <= 0)
        return std::nullopt;
    const xcb_window_t root = screens.data->root;

    const std::optional<quint32> active =
        cardinal(property(c, root, existingAtom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 32, 1));
    if (!active || *active == XCB_WINDOW_NONE)
        return std::nullopt;
    const xcb_window_t window = *active;

    // WM_CLASS holds two NUL-terminated strings: the instance name, then the class.
    const std::optional<QByteArray> wmClass = property(c, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, 256);
    if (!wmClass)
        return std::nullopt;
    const QList<QByteArray> parts = wmClass->split('\0');
    if (parts.size() < 2)
        return std::nullopt;
    const std::optional<Browser> browser = browserOfClass(parts.at(1));
    if (!browser)
        return std::nullopt;

    Window front;
    front.browser = *browser;
    const std::optional<QByteArray> name =
        property(c, window, existingAtom(c, "_NET_WM_NAME"), existingAtom(c, "UTF8_STRING"), 8, 16384);
    if (name)
        front.title = QString::fromUtf8(*name);
    const std::optional<quint32> pid =
        cardinal(property(c, window, existingAtom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1));
    if (pid)
        front.pid = *pid;
    return front;
}
