#include "fakes/FakeFileManager1.h"

FakeFileManager1::FakeFileManager1(QObject *parent)
    : FakeBusService(QStringLiteral("org.freedesktop.FileManager1"), parent)
{
    serve(QStringLiteral("/org/freedesktop/FileManager1"), [this](const QDBusMessage &call) {
        if (call.member() == QLatin1String("ShowItems") && call.signature() == QLatin1String("ass")) {
            const QVariantList args = call.arguments();
            shown.append({args.at(0).toStringList(), args.at(1).toString()});
            reply(call);
        } else {
            replyError(call, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), call.member());
        }
    });
}
