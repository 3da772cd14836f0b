#include "platform/KeepAwake.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

QDBusMessage inhibitCall(KeepAwake::Route route)
{
    if (route == KeepAwake::Route::screenSaver) {
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("Inhibit"));
        call << KeepAwake::applicationName << KeepAwake::reason;
        return call;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.SessionManager"),
        QStringLiteral("/org/gnome/SessionManager"), QStringLiteral("org.gnome.SessionManager"),
        QStringLiteral("Inhibit"));
    // No toplevel window id; flag 8 inhibits the session becoming idle.
    call << KeepAwake::appId << uint(0) << KeepAwake::reason << uint(8);
    return call;
}

} // namespace

KeepAwake::KeepAwake(QObject *parent) : QObject(parent) {}

KeepAwake::~KeepAwake()
{
    if (m_held)
        release(m_route, m_cookie);
}

void KeepAwake::set(bool on)
{
    m_wanted = on;
    if (on) {
        if (!m_held && !m_pending)
            inhibit(Route::screenSaver);
        return;
    }
    if (m_held) {
        m_held = false;
        release(m_route, m_cookie);
        emit heldChanged(false);
    }
}

void KeepAwake::inhibit(Route route)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    m_pending = true;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(inhibitCall(route), timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, route] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            if (route == Route::screenSaver && reply.error().type() == QDBusError::ServiceUnknown) {
                inhibit(Route::sessionManager);
                return;
            }
            m_pending = false;
            return;
        }
        m_pending = false;
        // Turned off while the request was out: give the cookie straight back.
        if (!m_wanted) {
            release(route, reply.value());
            return;
        }
        m_route = route;
        m_cookie = reply.value();
        m_held = true;
        emit heldChanged(true);
    });
}

void KeepAwake::release(Route route, uint cookie)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = route == Route::screenSaver
        ? QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("UnInhibit"))
        : QDBusMessage::createMethodCall(QStringLiteral("org.gnome.SessionManager"),
            QStringLiteral("/org/gnome/SessionManager"), QStringLiteral("org.gnome.SessionManager"),
            QStringLiteral("Uninhibit"));
    call << cookie;
    // The answer carries nothing we act on.
    call.setAutoStartService(false);
    bus.asyncCall(call, timeoutMs);
}
