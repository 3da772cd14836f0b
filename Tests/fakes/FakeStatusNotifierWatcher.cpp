#include "fakes/FakeStatusNotifierWatcher.h"

#include <QDBusVariant>

namespace {

const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");

const char introspection[] =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\" "
    "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
    "<node>\n"
    " <interface name=\"org.kde.StatusNotifierWatcher\">\n"
    "  <method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>\n"
    "  <method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>\n"
    "  <property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>\n"
    "  <property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>\n"
    "  <signal name=\"StatusNotifierItemRegistered\"><arg type=\"s\"/></signal>\n"
    "  <signal name=\"StatusNotifierItemUnregistered\"><arg type=\"s\"/></signal>\n"
    "  <signal name=\"StatusNotifierHostRegistered\"/>\n"
    " </interface>\n"
    " <interface name=\"org.freedesktop.DBus.Properties\">\n"
    "  <method name=\"Get\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"v\" direction=\"out\"/></method>\n"
    "  <method name=\"GetAll\"><arg type=\"s\" direction=\"in\"/><arg type=\"a{sv}\" direction=\"out\"/></method>\n"
    " </interface>\n"
    " <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
    "  <method name=\"Introspect\"><arg type=\"s\" direction=\"out\"/></method>\n"
    " </interface>\n"
    "</node>\n";

}

FakeStatusNotifierWatcher::FakeStatusNotifierWatcher(QObject *parent)
    : FakeBusService(QStringLiteral("org.kde.StatusNotifierWatcher"), parent)
{
    const QString path = QStringLiteral("/StatusNotifierWatcher");
    serve(path, [this, path](const QDBusMessage &call) {
        const QString member = call.member();
        const QVariantList args = call.arguments();
        if (member == QLatin1String("Introspect")) {
            reply(call, {QString::fromLatin1(introspection)});
        } else if (member == QLatin1String("Get") && args.size() == 2) {
            const QVariant value = propertyValue(args.at(1).toString());
            if (args.at(0).toString() != watcherInterface || !value.isValid())
                replyError(call, QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"), args.at(1).toString());
            else
                reply(call, {QVariant::fromValue(QDBusVariant(value))});
        } else if (member == QLatin1String("GetAll")) {
            QVariantMap all;
            for (const char *name : {"RegisteredStatusNotifierItems", "IsStatusNotifierHostRegistered", "ProtocolVersion"})
                all.insert(QString::fromLatin1(name), propertyValue(QString::fromLatin1(name)));
            reply(call, {all});
        } else if (member == QLatin1String("RegisterStatusNotifierItem") && call.signature() == QLatin1String("s")) {
            const QString service = args.at(0).toString();
            items.append({service, call.service()});
            reply(call);
            emitSignal(path, watcherInterface, QStringLiteral("StatusNotifierItemRegistered"), {service});
            emit itemRegistered(service);
        } else if (member == QLatin1String("RegisterStatusNotifierHost")) {
            reply(call);
        } else {
            replyError(call, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), member);
        }
    });
}

QVariant FakeStatusNotifierWatcher::propertyValue(const QString &name) const
{
    if (name == QLatin1String("IsStatusNotifierHostRegistered"))
        return true;
    if (name == QLatin1String("ProtocolVersion"))
        return 0;
    if (name == QLatin1String("RegisteredStatusNotifierItems")) {
        QStringList services;
        for (const Item &item : items)
            services.append(item.service);
        return services;
    }
    return {};
}
