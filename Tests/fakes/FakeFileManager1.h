#pragma once

#include "fakes/FakeBusService.h"

// A file manager's "org.freedesktop.FileManager1" on the private session bus, recording each
// ShowItems(uris, startup id).
class FakeFileManager1 final : public FakeBusService {
    Q_OBJECT
public:
    struct Shown {
        QStringList uris;
        QString startupId;
    };

    explicit FakeFileManager1(QObject *parent = nullptr);

    QList<Shown> shown;
};
