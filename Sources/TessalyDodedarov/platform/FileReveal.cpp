#include "platform/FileReveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>

QUrl FileReveal::folderOf(const QUrl &file)
{
    if (!file.isLocalFile())
        return file.adjusted(QUrl::RemoveFilename);
    return QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath());
}

void FileReveal::revealFile(const QUrl &file)
{
    const QUrl folder = folderOf(file);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromUtf8(file.toEncoded())} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, folder] {
        if (watcher->isError())
            openFolder(folder);
        watcher->deleteLater();
    });
}
