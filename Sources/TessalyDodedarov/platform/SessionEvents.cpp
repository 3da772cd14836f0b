#include "platform/SessionEvents.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <optional>

namespace {

const QString loginService = QStringLiteral("org.freedesktop.login1");
const QString loginPath = QStringLiteral("/org/freedesktop/login1");
const QString loginManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString smService = QStringLiteral("org.gnome.SessionManager");
const QString smPath = QStringLiteral("/org/gnome/SessionManager");
const QString smClientPrivate = QStringLiteral("org.gnome.SessionManager.ClientPrivate");

QDBusConnection busOf(QDBusConnection::BusType type)
{
    return type == QDBusConnection::SystemBus ? QDBusConnection::systemBus() : QDBusConnection::sessionBus();
}

} // namespace

SessionEvents::SessionEvents(Callbacks callbacks, QObject *parent)
    : QObject(parent), m_callbacks(std::move(callbacks))
{
}

SessionEvents::~SessionEvents() = default;

void SessionEvents::start()
{
    if (m_started)
        return;
    m_started = true;
    // The slots take the whole message and check its signature themselves: a slot taking a
    // bool would also receive a signal carrying a bool and more.
    QDBusConnection login = busOf(logindBus);
    if (login.isConnected()) {
        login.connect(loginService, loginPath, loginManager, QStringLiteral("PrepareForSleep"), this,
            SLOT(onLogind(QDBusMessage)));
        login.connect(loginService, loginPath, loginManager, QStringLiteral("PrepareForShutdown"), this,
            SLOT(onLogind(QDBusMessage)));
    }
    QDBusConnection screen = busOf(screenSaverBus);
    if (screen.isConnected()) {
        // Any sender and any path: each desktop's screen saver owns its name and object path.
        for (const QString &interface :
            {QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("org.gnome.ScreenSaver")}) {
            screen.connect(QString(), QString(), interface, QStringLiteral("ActiveChanged"), this,
                SLOT(onScreenSaver(QDBusMessage)));
        }
    }
    registerClient();
}

void SessionEvents::registerClient()
{
    QDBusConnection bus = busOf(sessionManagerBus);
    if (!bus.isConnected() || !m_clientPath.isEmpty())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(smService, smPath, QStringLiteral("org.gnome.SessionManager"),
        QStringLiteral("RegisterClient"));
    call.setAutoStartService(false);
    call << appId << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError() || reply.value().path().isEmpty())
            return;
        m_clientPath = reply.value().path();
        QDBusConnection bus = busOf(sessionManagerBus);
        bus.connect(smService, m_clientPath, smClientPrivate, QStringLiteral("QueryEndSession"), this,
            SLOT(onClient(QDBusMessage)));
        bus.connect(smService, m_clientPath, smClientPrivate, QStringLiteral("EndSession"), this,
            SLOT(onClient(QDBusMessage)));
        emit registered(m_clientPath);
    });
}

namespace {

// The single argument of a signal whose signature is exactly `signature`, else nothing.
std::optional<QVariant> onlyArgument(const QDBusMessage &message, QLatin1String signature)
{
    if (message.signature() != signature || message.arguments().size() != 1)
        return std::nullopt;
    return message.arguments().first();
}

} // namespace

void SessionEvents::onLogind(const QDBusMessage &message)
{
    const std::optional<QVariant> start = onlyArgument(message, QLatin1String("b"));
    if (!start)
        return;
    if (!start->toBool()) {
        // A shutdown that was called off: the next one (or a quit) must find everything armed.
        if (message.member() == QLatin1String("PrepareForShutdown"))
            m_callbacks.shutdownCancelled();
        return;
    }
    if (message.member() == QLatin1String("PrepareForSleep"))
        m_callbacks.sleep();
    else if (message.member() == QLatin1String("PrepareForShutdown"))
        m_callbacks.shutdown();
}

void SessionEvents::onScreenSaver(const QDBusMessage &message)
{
    const std::optional<QVariant> active = onlyArgument(message, QLatin1String("b"));
    if (active && active->toBool())
        m_callbacks.lock();
}

void SessionEvents::onClient(const QDBusMessage &message)
{
    if (!onlyArgument(message, QLatin1String("u")))
        return;
    // The owner's work (the final save) is done before the session manager hears back, since
    // it may end the process as soon as every client has answered.
    if (message.member() == QLatin1String("QueryEndSession"))
        m_callbacks.queryEndSession();
    else if (message.member() == QLatin1String("EndSession"))
        m_callbacks.endSession();
    else
        return;
    answerSessionManager();
}

void SessionEvents::answerSessionManager()
{
    if (m_clientPath.isEmpty())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(smService, m_clientPath, smClientPrivate,
        QStringLiteral("EndSessionResponse"));
    call.setAutoStartService(false);
    call << true << QString();
    busOf(sessionManagerBus).asyncCall(call);
}

void SessionEvents::holdInhibitor()
{
    m_inhibitorWanted = true;
    if (m_inhibitor.isValid() || m_inhibitorPending)
        return;
    QDBusConnection bus = busOf(logindBus);
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(loginService, loginPath, loginManager, QStringLiteral("Inhibit"));
    call.setAutoStartService(false);
    call << QStringLiteral("sleep:shutdown") << inhibitorWho << inhibitorWhy << QStringLiteral("delay");
    m_inhibitorPending = true;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_inhibitorPending = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
        if (reply.isError() || !reply.value().isValid())
            return;
        // Released while the request was out: the reply's descriptor closes with it.
        if (!m_inhibitorWanted)
            return;
        m_inhibitor = reply.value();
        emit inhibitorChanged(true);
    });
}

void SessionEvents::releaseInhibitor()
{
    m_inhibitorWanted = false;
    if (!m_inhibitor.isValid())
        return;
    // The descriptor is shared with the reply it came in; swapping in an empty one closes
    // our copy, which is what logind waits for.
    m_inhibitor = QDBusUnixFileDescriptor();
    emit inhibitorChanged(false);
}
