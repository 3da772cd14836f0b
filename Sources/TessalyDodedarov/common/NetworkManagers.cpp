#include "common/NetworkManagers.h"

#include <QCoreApplication>
#include <QList>
#include <QNetworkAccessManager>
#include <QPointer>

#include <utility>

namespace {

// Process-wide, as the application object they end with is.
QList<QPointer<QNetworkAccessManager>> &made()
{
    static QList<QPointer<QNetworkAccessManager>> managers;
    return managers;
}

void endAll()
{
    const QList<QPointer<QNetworkAccessManager>> managers = std::exchange(made(), {});
    for (const QPointer<QNetworkAccessManager> &manager : managers)
        delete manager.data();
}

} // namespace

QNetworkAccessManager *NetworkManagers::make()
{
    // The application runs its post routines once and forgets them.
    if (made().isEmpty())
        qAddPostRoutine(endAll);
    auto *manager = new QNetworkAccessManager(QCoreApplication::instance());
    made().append(manager);
    return manager;
}
