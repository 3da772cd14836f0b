#include "platform/FileReveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QStringList>

QUrl FileReveal::folderOf(const QUrl &file)
{
    if (!file.isLocalFile())
        return file.adjusted(QUrl::RemoveFilename);
    return QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath());
}

void FileReveal::revealFiles(const QList<QUrl> &files)
{
    if (files.isEmpty())
        return;
    const QUrl folder = folderOf(files.first());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(folder);
        return;
    }
    // The interface takes URIs in their encoded form: a Chinese name travels percent-encoded.
    QStringList uris;
    for (const QUrl &file : files)
        uris.append(QString::fromUtf8(file.toEncoded()));
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeout));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, folder] {
        if (watcher->isError())
            openFolder(folder);
        watcher->deleteLater();
    });
}
