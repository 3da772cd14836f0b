#include "platform/SecretStore.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QMap>
#include <QSemaphore>
#include <QThread>

#include <qt6keychain/keychain.h>

#include <functional>
#include <memory>

// Why one private thread: QtKeychain passes every job through a process-wide executor object
// that lives on the thread which started the first job, and a job only advances through that
// thread's event loop. Jobs started from whatever thread calls (the main thread, the engine's
// queue) would tie the executor to one caller's loop and stall everyone else's jobs, and a local
// event loop on the main thread would re-enter unrelated slots while the caller waits. So every
// job is created, started and finished here, and the caller blocks on a semaphore instead.

namespace {

const QString secretsName = QStringLiteral("org.freedesktop.secrets");
const QString secretsPath = QStringLiteral("/org/freedesktop/secrets");
const QString secretsInterface = QStringLiteral("org.freedesktop.Secret.Service");

struct KeyringThread {
    QThread thread;
    QObject *context = nullptr;
};

KeyringThread *keyringThread()
{
    static KeyringThread *instance = [] {
        auto *keyring = new KeyringThread;
        keyring->thread.setObjectName(QStringLiteral("com.tessalab.dodedarov.keyring"));
        keyring->context = new QObject;
        keyring->context->moveToThread(&keyring->thread);
        keyring->thread.start();
        // Stop the thread while Qt is still whole; a job still waiting on D-Bus is left behind.
        qAddPostRoutine([] {
            keyringThread()->thread.quit();
            keyringThread()->thread.wait(5000);
        });
        return keyring;
    }();
    return instance;
}

// Runs `start` on the keyring thread and waits until it calls `done`. False when the keyring
// thread is gone or the wait limit passed.
bool runOnKeyringThread(const std::function<void(std::function<void()> done)> &start)
{
    KeyringThread *keyring = keyringThread();
    if (!keyring->thread.isRunning())
        return false;
    auto finished = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        keyring->context, [start, finished] { start([finished] { finished->release(); }); },
        Qt::QueuedConnection);
    return finished->tryAcquire(1, SecretStore::waitLimitMs);
}

// QtKeychain's Secret Service backend reports a locked collection as "entry not found". Before
// an absence is believed, ask the Secret Service whether it could have seen the item: a locked
// copy, a locked default collection or none at all means it could not. Where the service is not
// on the bus (another backend answered), the backend's word stands.
bool secretServiceSawNothing(const QString &service, const QString &account)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()
        || !bus.interface()->isServiceRegistered(secretsName).value())
        return true;

    [[maybe_unused]] static const auto registered = qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusMessage search = QDBusMessage::createMethodCall(secretsName, secretsPath,
                                                         secretsInterface, QStringLiteral("SearchItems"));
    QMap<QString, QString> attributes{{QStringLiteral("server"), service},
                                      {QStringLiteral("user"), account}};
    search << QVariant::fromValue(attributes);
    const QDBusMessage found = bus.call(search);
    if (found.type() != QDBusMessage::ReplyMessage || found.arguments().size() != 2)
        return false;
    const auto locked = qdbus_cast<QList<QDBusObjectPath>>(found.arguments().at(1));
    if (!locked.isEmpty())
        return false;

    QDBusMessage alias = QDBusMessage::createMethodCall(secretsName, secretsPath, secretsInterface,
                                                        QStringLiteral("ReadAlias"));
    alias << QStringLiteral("default");
    const QDBusReply<QDBusObjectPath> collection = bus.call(alias);
    if (!collection.isValid() || collection.value().path() == QStringLiteral("/"))
        return false;

    QDBusMessage property = QDBusMessage::createMethodCall(
        secretsName, collection.value().path(), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    property << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    const QDBusReply<QDBusVariant> lockedState = bus.call(property);
    return lockedState.isValid() && !lockedState.value().variant().toBool();
}

} // namespace

SecretStore::Reading SecretStore::read(const QString &service, const QString &account)
{
    auto reading = std::make_shared<Reading>();
    const bool answered = runOnKeyringThread([reading, service, account](std::function<void()> done) {
        auto *job = new QKeychain::ReadPasswordJob(service);
        job->setAutoDelete(true);
        job->setInsecureFallback(false); // never a plain-text copy in a settings file
        job->setKey(account);
        QObject::connect(job, &QKeychain::Job::finished, [reading, service, account, done](QKeychain::Job *finished) {
            auto *readJob = static_cast<QKeychain::ReadPasswordJob *>(finished);
            if (finished->error() == QKeychain::NoError) {
                reading->status = Reading::Status::found;
                reading->data = readJob->binaryData();
            } else if (finished->error() == QKeychain::EntryNotFound) {
                reading->status = secretServiceSawNothing(service, account)
                    ? Reading::Status::notFound
                    : Reading::Status::failed;
            } else {
                reading->status = Reading::Status::failed;
            }
            done();
        });
        job->start();
    });
    return answered ? *reading : Reading{};
}

bool SecretStore::write(const QString &service, const QString &account, const QByteArray &data)
{
    auto stored = std::make_shared<bool>(false);
    const bool answered = runOnKeyringThread([stored, service, account, data](std::function<void()> done) {
        auto *job = new QKeychain::WritePasswordJob(service);
        job->setAutoDelete(true);
        job->setInsecureFallback(false); // never a plain-text copy in a settings file
        job->setKey(account);
        job->setBinaryData(data);
        QObject::connect(job, &QKeychain::Job::finished, [stored, done](QKeychain::Job *finished) {
            *stored = finished->error() == QKeychain::NoError;
            done();
        });
        job->start();
    });
    return answered && *stored;
}

bool SecretStore::remove(const QString &service, const QString &account)
{
    auto removed = std::make_shared<bool>(false);
    const bool answered = runOnKeyringThread([removed, service, account](std::function<void()> done) {
        auto *job = new QKeychain::DeletePasswordJob(service);
        job->setAutoDelete(true);
        job->setInsecureFallback(false); // never a plain-text copy in a settings file
        job->setKey(account);
        QObject::connect(job, &QKeychain::Job::finished, [removed, service, account, done](QKeychain::Job *finished) {
            // A locked collection answers a delete as if it had succeeded; only an item that is
            // really gone counts.
            *removed = (finished->error() == QKeychain::NoError
                        || finished->error() == QKeychain::EntryNotFound)
                && secretServiceSawNothing(service, account);
            done();
        });
        job->start();
    });
    return answered && *removed;
}
