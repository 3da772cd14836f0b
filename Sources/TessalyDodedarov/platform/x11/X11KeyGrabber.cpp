#include "platform/x11/X11KeyGrabber.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHash>
#include <QList>
#include <QSet>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace {

constexpr quint16 relevantModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
// Caps Lock and (on nearly every keyboard) Num Lock: a grab names exact modifier states, so
// each combination is grabbed with every mix of these as well, or a lit lock would block it.
constexpr quint16 lockVariants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                    XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

// XKB event subtypes after which the key symbols must be read again.
constexpr quint8 xkbNewKeyboardNotify = 0;
constexpr quint8 xkbMapNotify = 1;

quint16 xModifiers(Qt::KeyboardModifiers modifiers)
{
    quint16 mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & Qt::MetaModifier)
        mask |= XCB_MOD_MASK_4;
    return mask;
}

// The keysym of a Qt key: printable ASCII (letters as their lower-case keysym) and F1–F35.
xcb_keysym_t keysymOf(Qt::Key key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return xcb_keysym_t(key - Qt::Key_A + 'a');
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde)
        return xcb_keysym_t(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return xcb_keysym_t(0xffbe + (key - Qt::Key_F1));
    return XCB_NO_SYMBOL;
}

X11KeyGrabber *grabberInstance = nullptr;
bool instanceTried = false;

void destroyInstance()
{
    delete grabberInstance;
    grabberInstance = nullptr;
}

}

struct X11KeyGrabber::Private {
    struct Grab {
        quint32 id = 0;
        xcb_keysym_t keysym = XCB_NO_SYMBOL;
        quint16 modifiers = 0;
        QList<xcb_keycode_t> keycodes;
    };

    xcb_connection_t *connection = nullptr;
    xcb_key_symbols_t *symbols = nullptr;
    QList<xcb_window_t> roots;
    quint8 xkbFirstEvent = 0; // 0: no XKB
    QList<Grab> grabs;
    // Auto-repeat, in either form the server sends it: a press of a key still held, or a
    // release and press with the same timestamp.
    QSet<xcb_keycode_t> held;
    QHash<xcb_keycode_t, xcb_timestamp_t> releasedAt;

    QList<xcb_keycode_t> keycodesOf(xcb_keysym_t keysym) const
    {
        QList<xcb_keycode_t> result;
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym);
        for (xcb_keycode_t *code = codes; code && *code != XCB_NO_SYMBOL; ++code) {
            if (!result.contains(*code))
                result.append(*code);
        }
        std::free(codes);
        return result;
    }

    // Grabs every keycode with every lock variant on every root; false on any refusal.
    bool grabKeys(const Grab &grab)
    {
        QList<xcb_void_cookie_t> cookies;
        for (xcb_window_t root : roots) {
            for (xcb_keycode_t code : grab.keycodes) {
                for (quint16 lock : lockVariants) {
                    cookies.append(xcb_grab_key_checked(connection, 0, root, grab.modifiers | lock,
                                                        code, XCB_GRAB_MODE_ASYNC,
                                                        XCB_GRAB_MODE_ASYNC));
                }
            }
        }
        bool ok = true;
        for (const xcb_void_cookie_t &cookie : cookies) {
            if (xcb_generic_error_t *error = xcb_request_check(connection, cookie)) {
                ok = false;
                std::free(error);
            }
        }
        return ok;
    }

    // Only this client's own grabs are released, so a refused combination is safe to ungrab.
    void ungrabKeys(const Grab &grab)
    {
        for (xcb_window_t root : roots) {
            for (xcb_keycode_t code : grab.keycodes) {
                for (quint16 lock : lockVariants)
                    xcb_ungrab_key(connection, code, root, grab.modifiers | lock);
            }
        }
        xcb_flush(connection);
    }

    // Grabs or releases one keycode of a combination, with every lock variant on every root.
    void setKeycodeGrabbed(const Grab &grab, xcb_keycode_t code, bool grabbed)
    {
        Grab one = grab;
        one.keycodes = {code};
        if (grabbed)
            grabKeys(one);
        else
            ungrabKeys(one);
    }

    // The server says the keyboard changed: a new map, or another keyboard taking over (every
    // switch between two keyboards, XTEST included, announces a new keyboard, so the first key
    // from a device other than the last one brings this). A grab whose keycodes are unchanged
    // is left standing: releasing it and grabbing again around the round trip that reads the
    // new map would let a press that arrives meanwhile reach the focused window instead.
    void keyboardChanged()
    {
        xcb_key_symbols_free(symbols);
        symbols = xcb_key_symbols_alloc(connection);
        for (Grab &grab : grabs) {
            const QList<xcb_keycode_t> now = keycodesOf(grab.keysym);
            if (now == grab.keycodes)
                continue;
            // The new keycodes first, then the old ones go: never a moment without the grab.
            for (xcb_keycode_t code : now) {
                if (!grab.keycodes.contains(code))
                    setKeycodeGrabbed(grab, code, true);
            }
            for (xcb_keycode_t code : std::as_const(grab.keycodes)) {
                if (!now.contains(code)) {
                    setKeycodeGrabbed(grab, code, false);
                    held.remove(code);
                    releasedAt.remove(code);
                }
            }
            grab.keycodes = now;
        }
    }

    const Grab *grabFor(xcb_keycode_t code, quint16 state) const
    {
        const quint16 modifiers = state & relevantModifiers;
        for (const Grab &grab : grabs) {
            if (grab.modifiers == modifiers && grab.keycodes.contains(code))
                return &grab;
        }
        return nullptr;
    }

    bool isGrabbedKeycode(xcb_keycode_t code) const
    {
        for (const Grab &grab : grabs) {
            if (grab.keycodes.contains(code))
                return true;
        }
        return false;
    }
};

X11KeyGrabber *X11KeyGrabber::instance()
{
    if (grabberInstance || instanceTried)
        return grabberInstance;
    auto *application = qGuiApp;
    if (!application)
        return nullptr;
    instanceTried = true;
    auto *x11 = application->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return nullptr;

    auto d = std::make_unique<Private>();
    d->connection = connection;
    d->symbols = xcb_key_symbols_alloc(connection);
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem;
         xcb_screen_next(&it)) {
        d->roots.append(it.data->root);
    }
    static const char xkbName[] = "XKEYBOARD";
    xcb_query_extension_reply_t *xkb = xcb_query_extension_reply(
        connection, xcb_query_extension(connection, sizeof xkbName - 1, xkbName), nullptr);
    if (xkb && xkb->present)
        d->xkbFirstEvent = xkb->first_event;
    std::free(xkb);

    grabberInstance = new X11KeyGrabber(std::move(d));
    application->installNativeEventFilter(grabberInstance);
    // Post routines run while Qt's X connection is still open; static destruction would not.
    qAddPostRoutine(destroyInstance);
    return grabberInstance;
}

X11KeyGrabber::X11KeyGrabber(std::unique_ptr<Private> d)
    : d(std::move(d))
{
}

X11KeyGrabber::~X11KeyGrabber()
{
    if (auto *application = QCoreApplication::instance())
        application->removeNativeEventFilter(this);
    for (const Private::Grab &grab : std::as_const(d->grabs))
        d->ungrabKeys(grab);
    xcb_key_symbols_free(d->symbols);
}

bool X11KeyGrabber::grab(quint32 id, QKeyCombination combination)
{
    Private::Grab grab;
    grab.id = id;
    grab.keysym = keysymOf(combination.key());
    grab.modifiers = xModifiers(combination.keyboardModifiers());
    if (grab.keysym == XCB_NO_SYMBOL)
        return false;
    // The server would let this client grab a combination twice; then one release would end
    // both. A combination is held once, like anyone else's.
    for (const Private::Grab &other : std::as_const(d->grabs)) {
        if (other.keysym == grab.keysym && other.modifiers == grab.modifiers)
            return false;
    }
    grab.keycodes = d->keycodesOf(grab.keysym);
    if (grab.keycodes.isEmpty())
        return false;
    if (!d->grabKeys(grab)) {
        d->ungrabKeys(grab);
        return false;
    }
    d->grabs.append(grab);
    return true;
}

void X11KeyGrabber::ungrab(quint32 id)
{
    for (qsizetype i = 0; i < d->grabs.size(); ++i) {
        if (d->grabs.at(i).id != id)
            continue;
        const Private::Grab grab = d->grabs.takeAt(i);
        d->ungrabKeys(grab);
        return;
    }
}

bool X11KeyGrabber::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const quint8 type = event->response_type & 0x7f;

    if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
        auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
        if (type == XCB_KEY_RELEASE) {
            if (!d->held.remove(key->detail))
                return false;
            d->releasedAt.insert(key->detail, key->time);
            return true;
        }
        const Private::Grab *grab = d->grabFor(key->detail, key->state);
        if (!grab)
            return false;
        const bool repeat = d->held.contains(key->detail)
            || d->releasedAt.value(key->detail, XCB_CURRENT_TIME) == key->time;
        d->held.insert(key->detail);
        if (!repeat)
            pressed(grab->id);
        return true;
    }

    if (type == XCB_MAPPING_NOTIFY) {
        auto *mapping = reinterpret_cast<xcb_mapping_notify_event_t *>(event);
        if (mapping->request == XCB_MAPPING_KEYBOARD)
            d->keyboardChanged();
        return false;
    }
    if (d->xkbFirstEvent != 0 && type == d->xkbFirstEvent) {
        // Every XKB event carries its subtype in the second byte.
        const quint8 xkbType = reinterpret_cast<const quint8 *>(event)[1];
        if (xkbType == xkbNewKeyboardNotify || xkbType == xkbMapNotify)
            d->keyboardChanged();
    }
    return false;
}
