#include "fakes/FakeSessionManager.h"

#include <QDBusObjectPath>

namespace {
const QString clientPrivate = QStringLiteral("org.gnome.SessionManager.ClientPrivate");
}

FakeSessionManager::FakeSessionManager(QObject *parent)
    : FakeBusService(QStringLiteral("org.gnome.SessionManager"), parent)
{
    serve(QStringLiteral("/org/gnome/SessionManager"), [this](const QDBusMessage &call) {
        const QVariantList args = call.arguments();
        if (call.member() == QLatin1String("RegisterClient") && call.signature() == QLatin1String("ss")) {
            const QString path = QStringLiteral("/org/gnome/SessionManager/Client%1").arg(clients.size() + 1);
            clients.append({args.at(0).toString(), args.at(1).toString(), path});
            serveClient(path);
            reply(call, {QVariant::fromValue(QDBusObjectPath(path))});
        } else if (call.member() == QLatin1String("Inhibit") && call.signature() == QLatin1String("susu")) {
            const uint cookie = m_nextCookie++;
            inhibitions.append({args.at(0).toString(), args.at(1).toUInt(), args.at(2).toString(),
                args.at(3).toUInt(), cookie});
            active.insert(cookie);
            reply(call, {cookie});
        } else if (call.member() == QLatin1String("Uninhibit") && call.signature() == QLatin1String("u")) {
            released.append(args.at(0).toUInt());
            active.remove(args.at(0).toUInt());
            reply(call);
        } else {
            replyError(call, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), call.member());
        }
    });
}

void FakeSessionManager::serveClient(const QString &path)
{
    serve(path, [this, path](const QDBusMessage &call) {
        if (call.member() == QLatin1String("EndSessionResponse") && call.signature() == QLatin1String("bs")) {
            const QVariantList args = call.arguments();
            responses.append({path, args.at(0).toBool(), args.at(1).toString()});
            reply(call);
            emit responded(args.at(0).toBool());
        } else {
            replyError(call, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), call.member());
        }
    });
}

void FakeSessionManager::queryEndSession(const QString &clientPath, uint flags)
{
    emitSignal(clientPath, clientPrivate, QStringLiteral("QueryEndSession"), {flags});
}

void FakeSessionManager::endSession(const QString &clientPath, uint flags)
{
    emitSignal(clientPath, clientPrivate, QStringLiteral("EndSession"), {flags});
}
