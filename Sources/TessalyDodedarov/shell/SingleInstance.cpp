#include "shell/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QStandardPaths>
#include <QThread>

namespace {

const QByteArray showMessage = QByteArrayLiteral("show");
const QByteArray answer = QByteArrayLiteral("ok");
// Between two attempts to reach a holder that is not listening.
constexpr unsigned long retryMs = 100;

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
    const QDeadlineTimer patience(answerTimeoutMs);
    for (;;) {
        if (takeLock())
            return Outcome::first;
        if (askToShow(patience))
            return Outcome::forwarded;
        if (patience.hasExpired())
            return Outcome::noAnswer;
        // The holder closed the connection or is not listening yet: it is ending (its lock
        // becomes stale and is taken above) or still starting. Ask again in a moment.
        QThread::msleep(retryMs);
    }
}

bool SingleInstance::takeLock()
{
    m_lock = std::make_unique<QLockFile>(lockPath());
    // Only a dead owner makes the lock stale, never its age: a meeting may run for hours.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        m_lock.reset();
        return false;
    }
    // A socket file left by a crashed holder would make listen() fail.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->listen(socketPath());
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::receive);
    return true;
}

bool SingleInstance::askToShow(const QDeadlineTimer &deadline) const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;
    socket.write(showMessage + '\n');
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    // A busy holder answers once its event loop runs again; one that ends closes the socket,
    // which ends the wait early.
    QByteArray reply;
    while (!reply.contains('\n') && socket.waitForReadyRead(int(deadline.remainingTime())))
        reply += socket.read(messageLimit);
    return reply.trimmed() == answer;
}

void SingleInstance::tellNoAnswer()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("泰萨利字幕"),
                    QStringLiteral("泰萨利字幕已经在运行，但没有响应。"), QMessageBox::Ok);
    box.setInformativeText(QStringLiteral("请稍等片刻再打开一次。如果仍然没有响应，请在系统监视器中结束"
                                          "“tessaly-dodedarov”进程，然后重新打开泰萨利字幕。"));
    // The running copy's windows stay above others: the box has to as well, or it opens
    // under them.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
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
