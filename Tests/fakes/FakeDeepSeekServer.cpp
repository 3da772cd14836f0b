#include "fakes/FakeDeepSeekServer.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 415: return "Unsupported Media Type";
    case 422: return "Unprocessable Entity";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray errorJson(int status)
{
    const QJsonObject error{
        {QStringLiteral("message"), QStringLiteral("fake error %1").arg(status)},
        {QStringLiteral("type"), QStringLiteral("invalid_request_error")},
        {QStringLiteral("code"), QStringLiteral("fake_%1").arg(status)},
    };
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), error}}).toJson(QJsonDocument::Compact);
}

QByteArray chunk(const QByteArray &bytes)
{
    return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
}

} // namespace

FakeDeepSeekServer::Script &FakeDeepSeekServer::Script::send(const QByteArray &bytes)
{
    steps.append({Step::Kind::send, bytes, 0});
    return *this;
}

FakeDeepSeekServer::Script &FakeDeepSeekServer::Script::pause(int ms)
{
    steps.append({Step::Kind::pause, {}, ms});
    return *this;
}

FakeDeepSeekServer::Script &FakeDeepSeekServer::Script::drop()
{
    steps.append({Step::Kind::drop, {}, 0});
    return *this;
}

FakeDeepSeekServer::Script &FakeDeepSeekServer::Script::delta(const QString &text)
{
    return send(deltaEvent(text));
}

FakeDeepSeekServer::Script &FakeDeepSeekServer::Script::done()
{
    return send(doneEvent());
}

FakeDeepSeekServer::Script &FakeDeepSeekServer::Script::keepAlive()
{
    return send(": keep-alive\n\n");
}

QStringList FakeDeepSeekServer::Request::roles() const
{
    QStringList list;
    for (const QJsonValue &message : json.value(QStringLiteral("messages")).toArray())
        list << message.toObject().value(QStringLiteral("role")).toString();
    return list;
}

QStringList FakeDeepSeekServer::Request::contents() const
{
    QStringList list;
    for (const QJsonValue &message : json.value(QStringLiteral("messages")).toArray())
        list << message.toObject().value(QStringLiteral("content")).toString();
    return list;
}

FakeDeepSeekServer::FakeDeepSeekServer(QObject *parent)
    : QObject(parent)
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

FakeDeepSeekServer::~FakeDeepSeekServer() = default;

bool FakeDeepSeekServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl FakeDeepSeekServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

void FakeDeepSeekServer::enqueue(const Script &script)
{
    m_scripts.enqueue(script);
}

QByteArray FakeDeepSeekServer::deltaEvent(const QString &text)
{
    const QJsonObject delta{{QStringLiteral("content"), text}};
    const QJsonObject choice{{QStringLiteral("index"), 0}, {QStringLiteral("delta"), delta}};
    const QJsonObject event{{QStringLiteral("id"), QStringLiteral("fake")},
                            {QStringLiteral("object"), QStringLiteral("chat.completion.chunk")},
                            {QStringLiteral("choices"), QJsonArray{choice}}};
    return "data: " + QJsonDocument(event).toJson(QJsonDocument::Compact) + "\n\n";
}

QByteArray FakeDeepSeekServer::usageEvent(int prompt, int completion, std::optional<int> cacheHit,
                                          std::optional<int> detailsCached)
{
    QJsonObject usage{{QStringLiteral("prompt_tokens"), prompt},
                      {QStringLiteral("completion_tokens"), completion},
                      {QStringLiteral("total_tokens"), prompt + completion}};
    if (cacheHit)
        usage.insert(QStringLiteral("prompt_cache_hit_tokens"), *cacheHit);
    if (detailsCached)
        usage.insert(QStringLiteral("prompt_tokens_details"),
                     QJsonObject{{QStringLiteral("cached_tokens"), *detailsCached}});
    const QJsonObject event{{QStringLiteral("choices"), QJsonArray{}},
                            {QStringLiteral("usage"), usage}};
    return "data: " + QJsonDocument(event).toJson(QJsonDocument::Compact) + "\n\n";
}

QByteArray FakeDeepSeekServer::deltaWithUsageEvent(const QString &text, int prompt, int completion,
                                                   int cacheHit)
{
    const QJsonObject usage{{QStringLiteral("prompt_tokens"), prompt},
                            {QStringLiteral("completion_tokens"), completion},
                            {QStringLiteral("prompt_cache_hit_tokens"), cacheHit}};
    const QJsonObject choice{{QStringLiteral("index"), 0},
                             {QStringLiteral("delta"), QJsonObject{{QStringLiteral("content"), text}}}};
    const QJsonObject event{{QStringLiteral("choices"), QJsonArray{choice}},
                            {QStringLiteral("usage"), usage}};
    return "data: " + QJsonDocument(event).toJson(QJsonDocument::Compact) + "\n\n";
}

QByteArray FakeDeepSeekServer::doneEvent()
{
    return "data: [DONE]\n\n";
}

FakeDeepSeekServer::Script FakeDeepSeekServer::stream(const QStringList &pieces, bool withDone)
{
    Script script;
    for (const QString &piece : pieces)
        script.delta(piece);
    if (withDone)
        script.done();
    return script;
}

FakeDeepSeekServer::Script FakeDeepSeekServer::error(int status)
{
    Script script;
    script.status = status;
    return script;
}

FakeDeepSeekServer::Script FakeDeepSeekServer::hungUp()
{
    Script script;
    script.hangUp = true;
    return script;
}

void FakeDeepSeekServer::readFrom(QTcpSocket *socket)
{
    QByteArray &buffer = m_pending[socket];
    buffer.append(socket->readAll());
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        QByteArray value = line.mid(colon + 1);
        if (value.startsWith(' '))
            value.remove(0, 1);
        request.headers.insert(line.left(colon).trimmed().toLower(), value);
    }
    const qsizetype length = request.header("content-length").toLongLong();
    if (buffer.size() < headEnd + 4 + length)
        return; // the body is still on its way
    request.body = buffer.mid(headEnd + 4, length);
    m_pending.remove(socket);

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    request.jsonObject = error.error == QJsonParseError::NoError && document.isObject();
    if (request.jsonObject)
        request.json = document.object();
    m_requestCount += 1;
    if (keepRequests)
        m_requests.append(request);
    emit requestReceived();
    answer(socket, request);
}

void FakeDeepSeekServer::answer(QTcpSocket *socket, const Request &request)
{
    // A request the real service would refuse is refused before any script is used.
    Script script;
    if (request.method != "POST")
        script = error(405);
    else if (request.path != "/chat/completions")
        script = error(404);
    else if (!request.header("authorization").startsWith("Bearer"))
        script = error(401);
    else if (!request.header("content-type").startsWith("application/json"))
        script = error(415);
    else if (!request.jsonObject)
        script = error(400);
    else if (refuseTools && request.json.contains(QStringLiteral("tools")))
        script = error(400);
    else if (std::optional<Script> chosen = answerFor ? answerFor(request) : std::nullopt)
        script = *chosen;
    else if (!m_scripts.isEmpty())
        script = m_scripts.dequeue();
    else
        script = stream({QStringLiteral("ok")});

    QPointer<QTcpSocket> guarded(socket);
    auto respond = [this, guarded, script] {
        if (!guarded)
            return;
        if (script.hangUp) {
            guarded->abort();
            return;
        }
        if (script.status != 200) {
            const QByteArray body = script.errorBody.isEmpty() ? errorJson(script.status)
                                                               : script.errorBody;
            guarded->write("HTTP/1.1 " + QByteArray::number(script.status) + ' '
                           + reason(script.status)
                           + (script.location.isEmpty() ? QByteArray()
                                                        : "\r\nLocation: " + script.location)
                           + "\r\nContent-Type: application/json\r\nContent-Length: "
                           + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n"
                           + body);
            guarded->disconnectFromHost();
            return;
        }
        guarded->write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n"
                       "Cache-Control: no-cache\r\nTransfer-Encoding: chunked\r\n"
                       "Connection: close\r\n\r\n");
        guarded->flush();
        runSteps(guarded, std::make_shared<const QList<Step>>(script.steps), 0);
    };
    if (script.headDelayMs > 0)
        QTimer::singleShot(script.headDelayMs, this, respond);
    else
        respond();
}

void FakeDeepSeekServer::runSteps(QPointer<QTcpSocket> socket, std::shared_ptr<const QList<Step>> steps,
                                  qsizetype at)
{
    while (socket && at < steps->size()) {
        const Step &step = steps->at(at++);
        switch (step.kind) {
        case Step::Kind::send:
            socket->write(chunk(step.bytes));
            socket->flush();
            if (onWrite)
                onWrite();
            break;
        case Step::Kind::pause:
            QTimer::singleShot(step.ms, this, [this, socket, steps, at] { runSteps(socket, steps, at); });
            return;
        case Step::Kind::drop:
            socket->abort();
            return;
        }
    }
    if (socket) {
        socket->write("0\r\n\r\n");
        socket->disconnectFromHost();
    }
}
