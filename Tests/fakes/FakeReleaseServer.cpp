#include "fakes/FakeReleaseServer.h"

#include <QTcpSocket>

QByteArray FakeReleaseServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key == name.toLower())
            return value;
    }
    return {};
}

FakeReleaseServer::FakeReleaseServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            m_sockets.append(socket);
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

FakeReleaseServer::~FakeReleaseServer()
{
    for (const QPointer<QTcpSocket> &socket : std::as_const(m_sockets)) {
        if (socket)
            socket->abort();
    }
}

bool FakeReleaseServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString FakeReleaseServer::address() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void FakeReleaseServer::readFrom(QTcpSocket *socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("buffer", buffer);
        return;
    }
    socket->setProperty("buffer", QByteArray());
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    Request request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.append({lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed()});
    }
    requests.append(request);
    emit requested();
    if (silent)
        return;
    const bool known = request.path == "/version.json";
    const int code = known ? status : 404;
    const QByteArray content = known ? body : QByteArray("not here");
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(code) + (code == 200 ? " OK" : " Error") + "\r\n";
    answer += "Content-Type: " + contentType + "\r\nContent-Length: " + QByteArray::number(content.size())
        + "\r\nConnection: close\r\n\r\n" + content;
    socket->write(answer);
    socket->disconnectFromHost();
}
