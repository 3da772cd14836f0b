#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <memory>
#include <vector>

// The shared part of the fake desktop services on the test's private session bus. Each fake
// has a connection of its own, as a separate process would, owns its well-known name and
// serves its object paths through a handler that sees every method call. A test can make it
// stop answering (the caller's time-out) or answer every call with an error. Everything runs
// on the thread that created it, so callers must wait asynchronously (QSignalSpy::wait).
class FakeBusService : public QObject {
    Q_OBJECT
public:
    enum class Answer { normally, never, withError };
    Q_ENUM(Answer)

    using Handler = std::function<void(const QDBusMessage &call)>;

    explicit FakeBusService(QString serviceName, QObject *parent = nullptr);
    ~FakeBusService() override;

    // Connects to the session bus and takes the name. False when either fails.
    bool start();
    QDBusConnection bus() const { return m_bus; }
    QString serviceName() const { return m_service; }

    Answer answer = Answer::normally;

    // Serves one object path; the handler replies with reply() or replyError().
    void serve(const QString &path, Handler handler);
    void reply(const QDBusMessage &call, const QVariantList &values = {});
    void replyError(const QDBusMessage &call, const QString &name, const QString &text);
    // Broadcasts a signal from this service.
    void emitSignal(const QString &path, const QString &interface, const QString &name, const QVariantList &args);

    // Every method call received, as "Interface.Member", in order.
    QStringList calls;

signals:
    void called(const QString &member, const QVariantList &args);

private:
    class PathObject;
    void handle(const Handler &handler, const QDBusMessage &call);

    QString m_service;
    QString m_connectionName;
    QDBusConnection m_bus;
    QStringList m_paths;
    std::vector<std::unique_ptr<PathObject>> m_objects;
};
