#include "fakes/TestKeyring.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

namespace {

// The Secret Service's secret struct (session, parameters, value, content type).
struct SecretValue {
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

QDBusArgument &operator<<(QDBusArgument &argument, const SecretValue &secret)
{
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, SecretValue &secret)
{
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(SecretValue)

namespace {

const QString secrets = QStringLiteral("org.freedesktop.secrets");
const QString servicePath = QStringLiteral("/org/freedesktop/secrets");
const QString serviceInterface = QStringLiteral("org.freedesktop.Secret.Service");
// The throwaway password scripts/with-test-env unlocks the test keyring with.
const QByteArray testKeyringPassword = "dodedarov-test";

QDBusMessage serviceCall(const QString &method)
{
    return QDBusMessage::createMethodCall(secrets, servicePath, serviceInterface, method);
}

} // namespace

QString TestKeyring::defaultCollection()
{
    QDBusMessage alias = serviceCall(QStringLiteral("ReadAlias"));
    alias << QStringLiteral("default");
    const QDBusReply<QDBusObjectPath> reply = QDBusConnection::sessionBus().call(alias);
    return reply.isValid() ? reply.value().path() : QString();
}

bool TestKeyring::lock()
{
    QDBusMessage lock = serviceCall(QStringLiteral("Lock"));
    lock << QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(defaultCollection())});
    return QDBusConnection::sessionBus().call(lock).type() == QDBusMessage::ReplyMessage;
}

bool TestKeyring::unlock()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<SecretValue>();
        return true;
    }();
    Q_UNUSED(registered);
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage open = serviceCall(QStringLiteral("OpenSession"));
    open << QStringLiteral("plain") << QVariant::fromValue(QDBusVariant(QString()));
    const QDBusMessage session = bus.call(open);
    if (session.type() != QDBusMessage::ReplyMessage || session.arguments().size() != 2)
        return false;
    SecretValue secret;
    secret.session = qdbus_cast<QDBusObjectPath>(session.arguments().at(1));
    secret.value = testKeyringPassword;
    secret.contentType = QStringLiteral("text/plain");
    QDBusMessage unlock = QDBusMessage::createMethodCall(
        secrets, servicePath, QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
        QStringLiteral("UnlockWithMasterPassword"));
    unlock << QVariant::fromValue(QDBusObjectPath(defaultCollection())) << QVariant::fromValue(secret);
    return bus.call(unlock).type() == QDBusMessage::ReplyMessage;
}
