#include "fakes/FakeScribeServer.h"

#include <QJsonDocument>
#include <QTcpSocket>

#include <sys/socket.h>

namespace {
const QString realtimePath = QStringLiteral("/v1/speech-to-text/realtime");

// The query as a server reads it: "+" is a blank, "%XX" the byte it stands for. A client that
// sends "C++" or "R&D" unencoded gets "C  " or a split item back, as it would from the service.
QList<QPair<QString, QString>> decodedQuery(const QByteArray &raw)
{
    const auto decode = [](QByteArray part) {
        part.replace('+', ' ');
        return QString::fromUtf8(QByteArray::fromPercentEncoding(part));
    };
    QList<QPair<QString, QString>> items;
    for (const QByteArray &item : raw.split('&')) {
        if (item.isEmpty())
            continue;
        const qsizetype equals = item.indexOf('=');
        items.append({decode(item.left(equals)), equals < 0 ? QString() : decode(item.mid(equals + 1))});
    }
    return items;
}

QByteArray refusal(int status)
{
    static const QHash<int, QByteArray> texts = {
        {401, "Unauthorized"}, {403, "Forbidden"}, {429, "Too Many Requests"},
        {500, "Internal Server Error"}, {502, "Bad Gateway"}, {503, "Service Unavailable"},
    };
    return QByteArray("HTTP/1.1 ") + QByteArray::number(status) + ' ' + texts.value(status, "Refused")
        + "\r\nContent-Type: application/json\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}";
}
}

QByteArray FakeScribeServer::Connection::audio() const
{
    QByteArray all;
    for (const QByteArray &chunk : chunks)
        all += chunk;
    return all;
}

QStringList FakeScribeServer::Connection::values(const QString &key) const
{
    QStringList found;
    for (const auto &[k, v] : query)
        if (k == key)
            found.append(v);
    return found;
}

FakeScribeServer::FakeScribeServer(QObject *parent)
    : QObject(parent)
    , m_ws(QStringLiteral("fake-scribe"), QWebSocketServer::NonSecureMode)
{
    connect(&m_tcp, &QTcpServer::newConnection, this, &FakeScribeServer::onTcpConnection);
    connect(&m_ws, &QWebSocketServer::newConnection, this, &FakeScribeServer::onWebSocket);
}

FakeScribeServer::~FakeScribeServer()
{
    for (Connection &c : m_connections)
        if (c.socket)
            c.socket->abort();
}

bool FakeScribeServer::listen()
{
    return m_tcp.listen(QHostAddress::LocalHost, 0);
}

QUrl FakeScribeServer::address() const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(m_tcp.serverPort()));
}

void FakeScribeServer::onTcpConnection()
{
    while (QTcpSocket *socket = m_tcp.nextPendingConnection()) {
        ++m_rawConnections;
        if (mode == Mode::accept) {
            m_ws.handleConnection(socket);
            continue;
        }
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (mode == Mode::silent) {
            connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
            continue;
        }
        const QByteArray answer = refusal(mode == Mode::refuse401 ? 401
                                          : mode == Mode::refuse403 ? 403
                                                                    : refusalStatus);
        // Answer once the whole upgrade request has arrived, as a real server would, then end
        // only our side of the connection: whatever the client still writes is read and kept
        // until the client closes its side.
        auto request = std::make_shared<QByteArray>();
        auto answered = std::make_shared<bool>(false);
        const auto read = [this, socket, request, answered, answer] {
            const QByteArray bytes = socket->readAll();
            if (*answered) {
                strayBytes += bytes;
                return;
            }
            *request += bytes;
            const qsizetype end = request->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            *answered = true;
            strayBytes += request->mid(end + 4);
            socket->write(answer);
            socket->flush();
            ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
        };
        connect(socket, &QTcpSocket::readyRead, this, read);
        connect(socket, &QTcpSocket::disconnected, this, [this, read] {
            read();
            ++refusedEnded;
        });
    }
}

void FakeScribeServer::onWebSocket()
{
    while (QWebSocket *socket = m_ws.nextPendingConnection()) {
        socket->setParent(this);
        Connection connection;
        connection.path = socket->requestUrl().path();
        connection.query = decodedQuery(socket->requestUrl().query(QUrl::FullyEncoded).toLatin1());
        connection.apiKey = socket->request().rawHeader("xi-api-key");
        connection.socket = socket;
        m_connections.append(connection);
        const qsizetype index = m_connections.size() - 1;

        connect(socket, &QWebSocket::textMessageReceived, this, [this, index](const QString &text) {
            onText(m_connections[index], text);
        });
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, index] { ++m_connections[index].binaryMessages; });
        connect(socket, &QWebSocket::disconnected, this, [this, index] {
            m_connections[index].closedByClient = true;
            emit clientClosed();
        });

        if (closeAtOnce) {
            socket->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("busy"));
        } else if (connection.path != realtimePath) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("not found"));
        } else if (connection.apiKey != expectedKey) {
            send(error(QStringLiteral("auth_error"), QStringLiteral("Invalid API key")));
        } else if (startSession) {
            send(sessionStarted());
        }
        emit clientConnected();
    }
}

void FakeScribeServer::onText(Connection &connection, const QString &text)
{
    // Only exactly the documented four members with their documented types count.
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    const QJsonObject message = document.object();
    const bool wellFormed = document.isObject() && message.size() == 4
        && message.value(QStringLiteral("message_type")) == QStringLiteral("input_audio_chunk")
        && message.value(QStringLiteral("commit")) == QJsonValue(false)
        && message.value(QStringLiteral("sample_rate")) == QJsonValue(16000)
        && text.contains(QStringLiteral("\"sample_rate\":16000"))
        && message.value(QStringLiteral("audio_base_64")).isString();
    const QByteArray pcm = QByteArray::fromBase64Encoding(
        message.value(QStringLiteral("audio_base_64")).toString().toLatin1(),
        QByteArray::AbortOnBase64DecodingErrors).decoded;
    if (!wellFormed || pcm.isEmpty() || pcm.size() % 2 != 0) {
        connection.badMessages.append(text);
        return;
    }
    audioBytes += pcm.size();
    if (keepAudio)
        connection.chunks.append(pcm);
    emit audioReceived(pcm.size());
}

void FakeScribeServer::send(const QJsonObject &message)
{
    sendText(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void FakeScribeServer::sendText(const QString &text)
{
    if (!m_connections.isEmpty() && last().socket)
        last().socket->sendTextMessage(text);
}

void FakeScribeServer::sendBinary(const QByteArray &bytes)
{
    if (!m_connections.isEmpty() && last().socket)
        last().socket->sendBinaryMessage(bytes);
}

void FakeScribeServer::closeFromServer()
{
    if (!m_connections.isEmpty() && last().socket)
        last().socket->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("bye"));
}

QJsonObject FakeScribeServer::sessionStarted()
{
    return {{QStringLiteral("message_type"), QStringLiteral("session_started")},
            {QStringLiteral("session_id"), QStringLiteral("fake-session")}};
}

QJsonObject FakeScribeServer::partial(const QString &text, const QJsonArray &words)
{
    QJsonObject message = partial(text);
    message.insert(QStringLiteral("words"), words);
    return message;
}

QJsonObject FakeScribeServer::partial(const QString &text)
{
    return {{QStringLiteral("message_type"), QStringLiteral("partial_transcript")},
            {QStringLiteral("text"), text}};
}

QJsonObject FakeScribeServer::committed(const QString &text)
{
    return {{QStringLiteral("message_type"), QStringLiteral("committed_transcript")},
            {QStringLiteral("text"), text}};
}

QJsonObject FakeScribeServer::speakersMerged(const QString &from, const QString &to)
{
    return {{QStringLiteral("message_type"), QStringLiteral("speakers_merged")},
            {QStringLiteral("from_speaker_id"), from},
            {QStringLiteral("to_speaker_id"), to}};
}

QJsonObject FakeScribeServer::error(const QString &type, const QString &message)
{
    return {{QStringLiteral("message_type"), type}, {QStringLiteral("error"), message}};
}

QJsonObject FakeScribeServer::word(const QString &text, const QString &speaker)
{
    return {{QStringLiteral("text"), text},
            {QStringLiteral("type"), QStringLiteral("word")},
            {QStringLiteral("speaker_id"), speaker}};
}

QJsonObject FakeScribeServer::spacing()
{
    return {{QStringLiteral("text"), QStringLiteral(" ")}, {QStringLiteral("type"), QStringLiteral("spacing")}};
}

QJsonObject FakeScribeServer::audioEvent(const QString &text, const QString &speaker)
{
    return {{QStringLiteral("text"), text},
            {QStringLiteral("type"), QStringLiteral("audio_event")},
            {QStringLiteral("speaker_id"), speaker}};
}
