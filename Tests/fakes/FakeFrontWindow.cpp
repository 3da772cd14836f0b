#include "FakeFrontWindow.h"

#include <QList>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

struct FakeFrontWindow::Connection {
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = XCB_WINDOW_NONE;
    QList<xcb_window_t> windows;
};

namespace {

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

bool setActive(xcb_connection_t *c, xcb_window_t root, xcb_window_t window)
{
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 32,
                        1, &window);
    // A round trip, so the server has applied every request before the test reads it back.
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    return !xcb_connection_has_error(c);
}

} // namespace

FakeFrontWindow::FakeFrontWindow()
{
    if (!sessionHasDisplay())
        return;
    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    m_x = new Connection{c, screens.data->root, {}};
}

FakeFrontWindow::~FakeFrontWindow()
{
    if (!m_x)
        return;
    clearActive();
    for (const xcb_window_t window : m_x->windows)
        xcb_destroy_window(m_x->connection, window);
    xcb_flush(m_x->connection);
    xcb_disconnect(m_x->connection);
    delete m_x;
}

bool FakeFrontWindow::sessionHasDisplay() { return !qEnvironmentVariableIsEmpty("DISPLAY"); }

bool FakeFrontWindow::isValid() const { return m_x != nullptr; }

bool FakeFrontWindow::show(const Spec &spec)
{
    if (!m_x)
        return false;
    xcb_connection_t *c = m_x->connection;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, m_x->root, 0, 0, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    m_x->windows.append(window);
    const QByteArray wmClass = spec.instance + '\0' + spec.windowClass + '\0';
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        uint32_t(wmClass.size()), wmClass.constData());
    if (spec.title) {
        const QByteArray title = spec.title->toUtf8();
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"), 8,
                            uint32_t(title.size()), title.constData());
    }
    if (spec.pid) {
        const uint32_t pid = *spec.pid;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1,
                            &pid);
    }
    return setActive(c, m_x->root, window);
}

bool FakeFrontWindow::clearActive()
{
    return m_x && setActive(m_x->connection, m_x->root, XCB_WINDOW_NONE);
}
