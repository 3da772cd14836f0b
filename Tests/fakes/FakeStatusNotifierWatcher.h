#pragma once

#include "fakes/FakeBusService.h"

// The tray host's registry on the private session bus: "org.kde.StatusNotifierWatcher" at
// /StatusNotifierWatcher, saying a host is registered. With it on the bus, Qt under xcb shows
// its tray icons as status-notifier items, each registered here with
// RegisterStatusNotifierItem(service). The properties are answered to Introspect and
// Properties.Get, as Qt reads them through a dynamic interface.
class FakeStatusNotifierWatcher final : public FakeBusService {
    Q_OBJECT
public:
    explicit FakeStatusNotifierWatcher(QObject *parent = nullptr);

    struct Item {
        QString service; // as given: a bus name, or an object path on the sender's connection
        QString sender;  // the unique name of the connection that registered it
    };
    QList<Item> items; // every registration, in order

signals:
    void itemRegistered(const QString &service);

private:
    QVariant propertyValue(const QString &name) const;
};
