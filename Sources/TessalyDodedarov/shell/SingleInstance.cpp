#include "shell/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {

const QByteArray showMessage = QByteArrayLiteral("show");
const QByteArray answer = QByteArrayLiteral("ok");

}

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
{
    if (m_folder.isEmpty())
        m_folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (m_folder.isEmpty())
        m_folder = QDir::tempPath();
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("tessaly-dodedarov.lock"));
}

QString SingleInstance::socketPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("tessaly-dodedarov.socket"));
}

SingleInstance::Outcome SingleInstance::claim()
{
    QDir().mkpath(m_folder);
    m_lock = std::make_unique<QLockFile>(lockPath());
    // Only a dead owner makes the lock stale, never its age: a meeting may run for hours.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        // A socket file left by a crashed holder would make listen() fail.
        QLocalServer::removeServer(socketPath());
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        m_server->listen(socketPath());
        connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::receive);
        return Outcome::first;
    }
    m_lock.reset();

    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(answerTimeoutMs))
        return Outcome::noAnswer;
    socket.write(showMessage + '\n');
    if (!socket.waitForBytesWritten(answerTimeoutMs))
        return Outcome::noAnswer;
    QByteArray reply;
    while (!reply.contains('\n') && socket.waitForReadyRead(answerTimeoutMs))
        reply += socket.read(messageLimit);
    return reply.trimmed() == answer ? Outcome::forwarded : Outcome::noAnswer;
}

void SingleInstance::receive()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            // Only the start of a message is read; anything longer or unknown is ignored.
            *buffer += socket->read(messageLimit - buffer->size());
            if (!buffer->contains('\n') && buffer->size() < messageLimit)
                return;
            const QByteArray message = buffer->left(buffer->indexOf('\n')).trimmed();
            socket->disconnect(this);
            if (message == showMessage) {
                socket->write(answer + '\n');
                socket->flush();
                emit showRequested();
            }
            socket->disconnectFromServer();
        });
    }
}
