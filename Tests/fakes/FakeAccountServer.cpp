#include "fakes/FakeAccountServer.h"

#include <QHostAddress>
#include <QTcpSocket>

FakeAccountServer::FakeAccountServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_pending.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

FakeAccountServer::~FakeAccountServer() = default;

bool FakeAccountServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl FakeAccountServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

void FakeAccountServer::readFrom(QTcpSocket *socket)
{
    QByteArray &buffer = m_pending[socket];
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    buffer.remove(0, end + 4);

    Request request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    const bool elevenLabs = request.path.startsWith("/v1/");
    request.keyHeaderRight = elevenLabs
        ? request.header("xi-api-key") == expectedKey && !request.headers.contains("authorization")
        : request.header("authorization") == "Bearer " + expectedKey
            && !request.headers.contains("xi-api-key");
    m_requests.append(request);
    emit requestReceived();

    Answer answer = m_answers.value(request.path, Answer {404, "{\"detail\":\"not found\"}", false});
    if (request.method != "GET" || !request.keyHeaderRight)
        answer = Answer {400, "{\"detail\":\"bad request\"}", false};
    if (answer.stall)
        return;
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(answer.status) + " Status\r\n"
        + "Content-Type: application/json\r\n"
        + "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n"
        + "Connection: close\r\n\r\n" + answer.body;
    socket->write(reply);
    socket->disconnectFromHost();
}
