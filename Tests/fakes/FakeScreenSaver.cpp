#include "fakes/FakeScreenSaver.h"

namespace {
const QString interfaceName = QStringLiteral("org.freedesktop.ScreenSaver");
const QString path = QStringLiteral("/org/freedesktop/ScreenSaver");
}

FakeScreenSaver::FakeScreenSaver(QObject *parent) : FakeBusService(interfaceName, parent)
{
    serve(path, [this](const QDBusMessage &call) {
        const QVariantList args = call.arguments();
        if (call.member() == QLatin1String("Inhibit") && call.signature() == QLatin1String("ss")) {
            const uint cookie = m_nextCookie++;
            inhibitions.append({args.at(0).toString(), args.at(1).toString(), cookie});
            active.insert(cookie);
            reply(call, {cookie});
        } else if (call.member() == QLatin1String("UnInhibit") && call.signature() == QLatin1String("u")) {
            const uint cookie = args.at(0).toUInt();
            released.append(cookie);
            active.remove(cookie);
            reply(call);
        } else {
            replyError(call, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), call.member());
        }
    });
}

void FakeScreenSaver::activeChanged(bool on, bool gnome)
{
    if (gnome)
        emitSignal(QStringLiteral("/org/gnome/ScreenSaver"), QStringLiteral("org.gnome.ScreenSaver"),
            QStringLiteral("ActiveChanged"), {on});
    else
        emitSignal(path, interfaceName, QStringLiteral("ActiveChanged"), {on});
}
