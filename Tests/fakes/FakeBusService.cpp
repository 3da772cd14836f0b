#include "fakes/FakeBusService.h"

#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>

#include <atomic>

class FakeBusService::PathObject final : public QDBusVirtualObject {
public:
    PathObject(FakeBusService *owner, Handler handler) : m_owner(owner), m_handler(std::move(handler)) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        if (message.type() != QDBusMessage::MethodCallMessage)
            return false;
        m_owner->handle(m_handler, message);
        return true;
    }

private:
    FakeBusService *m_owner;
    Handler m_handler;
};

namespace {
std::atomic<int> connectionCount{0};
}

FakeBusService::FakeBusService(QString serviceName, QObject *parent)
    : QObject(parent)
    , m_service(std::move(serviceName))
    , m_connectionName(QStringLiteral("fake-%1-%2").arg(m_service).arg(++connectionCount))
    , m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName))
{
}

FakeBusService::~FakeBusService()
{
    if (m_bus.isConnected()) {
        for (const QString &path : std::as_const(m_paths))
            m_bus.unregisterObject(path);
        m_bus.unregisterService(m_service);
    }
    QDBusConnection::disconnectFromBus(m_connectionName);
}

bool FakeBusService::start()
{
    if (!m_bus.isConnected())
        return false;
    // Wait for the name, rather than queue for it behind a previous test's fake.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = m_bus.interface()->registerService(
        m_service, QDBusConnectionInterface::ReplaceExistingService, QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

void FakeBusService::serve(const QString &path, Handler handler)
{
    m_objects.push_back(std::make_unique<PathObject>(this, std::move(handler)));
    m_bus.registerVirtualObject(path, m_objects.back().get());
    m_paths.append(path);
}

void FakeBusService::handle(const Handler &handler, const QDBusMessage &call)
{
    calls.append(call.interface() + u'.' + call.member());
    emit called(call.member(), call.arguments());
    switch (answer) {
    case Answer::never:
        return;
    case Answer::withError:
        replyError(call, QStringLiteral("org.freedesktop.DBus.Error.Failed"), QStringLiteral("refused by the test"));
        return;
    case Answer::normally:
        handler(call);
        return;
    }
}

void FakeBusService::reply(const QDBusMessage &call, const QVariantList &values)
{
    m_bus.send(call.createReply(values));
}

void FakeBusService::replyError(const QDBusMessage &call, const QString &name, const QString &text)
{
    m_bus.send(call.createErrorReply(name, text));
}

void FakeBusService::emitSignal(const QString &path, const QString &interface, const QString &name,
    const QVariantList &args)
{
    QDBusMessage message = QDBusMessage::createSignal(path, interface, name);
    message.setArguments(args);
    m_bus.send(message);
}
