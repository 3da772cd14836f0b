#include "fakes/ManualDeepSeekServer.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

const char kBuffer[] = "buffer";

QByteArray reason(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

} // namespace

QString ManualDeepSeekServer::Exchange::system() const
{
    const QJsonArray messages = json.value(QStringLiteral("messages")).toArray();
    if (messages.isEmpty() || messages.first().toObject().value(QStringLiteral("role")) != QStringLiteral("system"))
        return {};
    return messages.first().toObject().value(QStringLiteral("content")).toString();
}

QString ManualDeepSeekServer::Exchange::lastUser() const
{
    const QJsonArray messages = json.value(QStringLiteral("messages")).toArray();
    for (qsizetype i = messages.size() - 1; i >= 0; --i) {
        const QJsonObject m = messages.at(i).toObject();
        if (m.value(QStringLiteral("role")) == QStringLiteral("user"))
            return m.value(QStringLiteral("content")).toString();
    }
    return {};
}

QStringList ManualDeepSeekServer::Exchange::roles() const
{
    QStringList out;
    for (const QJsonValue &m : json.value(QStringLiteral("messages")).toArray())
        out.append(m.toObject().value(QStringLiteral("role")).toString());
    return out;
}

ManualDeepSeekServer::ManualDeepSeekServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        }
    });
}

bool ManualDeepSeekServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl ManualDeepSeekServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

QList<int> ManualDeepSeekServer::open() const
{
    QList<int> out;
    for (int i = 0; i < m_exchanges.size(); ++i)
        if (!m_exchanges[i].closed)
            out.append(i);
    return out;
}

void ManualDeepSeekServer::readFrom(QTcpSocket *socket)
{
    QByteArray buffer = socket->property(kBuffer).toByteArray() + socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        socket->setProperty(kBuffer, buffer);
        return;
    }
    qsizetype length = 0;
    QByteArray authorization;
    const QList<QByteArray> headLines = buffer.left(headEnd).split('\n');
    for (const QByteArray &raw : headLines) {
        const QByteArray line = raw.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length")
            length = value.toLongLong();
        else if (name == "authorization")
            authorization = value;
    }
    if (buffer.size() < headEnd + 4 + length) {
        socket->setProperty(kBuffer, buffer);
        return;
    }
    socket->setProperty(kBuffer, QByteArray());
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);

    Exchange exchange;
    exchange.authorization = authorization;
    exchange.json = QJsonDocument::fromJson(buffer.mid(headEnd + 4, length)).object();
    exchange.socket = socket;
    m_exchanges.append(exchange);
    const int index = int(m_exchanges.size()) - 1;
    if (onRequest)
        onRequest(index);
    emit requestReceived(index);
}

void ManualDeepSeekServer::sendHead(Exchange &exchange)
{
    if (exchange.headSent || !exchange.socket)
        return;
    exchange.headSent = true;
    exchange.socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                           "Cache-Control: no-cache\r\nTransfer-Encoding: chunked\r\n"
                           "Connection: close\r\n\r\n");
}

void ManualDeepSeekServer::writeChunk(Exchange &exchange, const QByteArray &bytes)
{
    if (!exchange.socket || exchange.closed)
        return;
    sendHead(exchange);
    exchange.socket->write(QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n");
    exchange.socket->flush();
}

void ManualDeepSeekServer::delta(int i, const QString &text)
{
    const QJsonObject delta{{QStringLiteral("content"), text}};
    const QJsonObject choice{{QStringLiteral("index"), 0}, {QStringLiteral("delta"), delta}};
    const QJsonObject event{{QStringLiteral("object"), QStringLiteral("chat.completion.chunk")},
                            {QStringLiteral("choices"), QJsonArray{choice}}};
    writeChunk(m_exchanges[i], "data: " + QJsonDocument(event).toJson(QJsonDocument::Compact) + "\n\n");
}

void ManualDeepSeekServer::reply(int i, const QStringList &pieces, bool withDone)
{
    for (const QString &piece : pieces)
        delta(i, piece);
    finish(i, withDone);
}

void ManualDeepSeekServer::finish(int i, bool withDone)
{
    Exchange &exchange = m_exchanges[i];
    if (exchange.closed || !exchange.socket)
        return;
    if (withDone)
        writeChunk(exchange, "data: [DONE]\n\n");
    sendHead(exchange);
    exchange.socket->write("0\r\n\r\n");
    exchange.socket->disconnectFromHost();
    exchange.closed = true;
}

void ManualDeepSeekServer::fail(int i, int status)
{
    Exchange &exchange = m_exchanges[i];
    if (exchange.closed || !exchange.socket || exchange.headSent)
        return;
    const QByteArray body = "{\"error\":{\"message\":\"scripted failure\",\"type\":\"test\"}}";
    exchange.socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status)
                           + "\r\nContent-Type: application/json\r\nContent-Length: "
                           + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    exchange.socket->disconnectFromHost();
    exchange.closed = true;
}

void ManualDeepSeekServer::drop(int i)
{
    Exchange &exchange = m_exchanges[i];
    if (exchange.closed || !exchange.socket)
        return;
    // The response has begun, so the client sees a broken stream rather than a connection
    // closed before any answer (which the network stack silently resends).
    sendHead(exchange);
    exchange.socket->flush();
    exchange.socket->abort();
    exchange.closed = true;
}
