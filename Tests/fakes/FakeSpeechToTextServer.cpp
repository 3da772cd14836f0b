#include "FakeSpeechToTextServer.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

// The parse of one connection's request, fed as bytes arrive.
struct FakeSpeechToTextServer::Connection {
    enum class State { head, preamble, partHead, partBody, afterDelimiter, closing, epilogue, done };
    State state = State::head;
    QByteArray buffer;
    FakeSpeechToTextServer::Request request;
    qint64 contentLength = -1;
    qint64 bodyReceived = 0;
    QByteArray partName;
    bool filePart = false;
    QCryptographicHash hash{QCryptographicHash::Sha256};

    QByteArray delimiter() const { return "\r\n--" + request.boundary; }
    void problem(const QByteArray &what)
    {
        if (request.problem.isEmpty())
            request.problem = what;
    }
    void partBytes(const QByteArray &bytes)
    {
        if (filePart) {
            hash.addData(bytes);
            request.fileSize += bytes.size();
        } else if (!request.textParts.isEmpty()) {
            request.textParts.back().value += bytes;
        }
    }
    void endPart()
    {
        if (filePart)
            request.fileSha256 = hash.result().toHex();
    }
    // Consumes what it can of `buffer`; the rest waits for more bytes.
    void parseBody();
};

namespace {

QByteArray quotedParameter(const QByteArray &line, const QByteArray &key)
{
    const QByteArray marker = key + "=\"";
    const qsizetype at = line.indexOf(marker);
    if (at < 0)
        return {};
    const qsizetype from = at + marker.size();
    const qsizetype to = line.indexOf('"', from);
    return to < 0 ? QByteArray() : line.mid(from, to - from);
}

} // namespace

void FakeSpeechToTextServer::Connection::parseBody()
{
    for (;;) {
        switch (state) {
        case State::head:
        case State::done:
            return;
        case State::preamble: {
            const QByteArray first = "--" + request.boundary + "\r\n";
            if (buffer.size() < first.size())
                return;
            if (!buffer.startsWith(first))
                problem("body does not open with the boundary");
            buffer.remove(0, first.size());
            state = State::partHead;
            break;
        }
        case State::partHead: {
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            buffer.remove(0, end + 4);
            QByteArray disposition;
            QByteArray type;
            for (QByteArray line : lines) {
                line = line.trimmed();
                if (line.toLower().startsWith("content-disposition:"))
                    disposition = line;
                else if (line.toLower().startsWith("content-type:"))
                    type = line.mid(13).trimmed();
                else if (!line.isEmpty())
                    problem("unexpected part header: " + line);
            }
            if (!disposition.startsWith("Content-Disposition: form-data; name=\""))
                problem("bad part disposition: " + disposition);
            partName = quotedParameter(disposition, "name");
            filePart = disposition.contains("; filename=\"");
            if (filePart) {
                request.fileField = partName;
                request.fileName = quotedParameter(disposition, "filename");
                request.fileContentType = type;
                hash.reset();
            } else {
                request.textParts.append({partName, {}});
            }
            state = State::partBody;
            break;
        }
        case State::partBody: {
            const QByteArray mark = delimiter();
            const qsizetype at = buffer.indexOf(mark);
            if (at < 0) {
                // Keep only what could be the start of the delimiter.
                const qsizetype keep = std::min<qsizetype>(buffer.size(), mark.size() - 1);
                partBytes(buffer.left(buffer.size() - keep));
                buffer.remove(0, buffer.size() - keep);
                return;
            }
            partBytes(buffer.left(at));
            buffer.remove(0, at + mark.size());
            endPart();
            state = State::afterDelimiter;
            break;
        }
        case State::afterDelimiter:
            if (buffer.size() < 2)
                return;
            if (buffer.startsWith("\r\n")) {
                buffer.remove(0, 2);
                state = State::partHead;
            } else if (buffer.startsWith("--")) {
                buffer.remove(0, 2);
                state = State::closing;
            } else {
                problem("garbage after a delimiter");
                state = State::epilogue;
            }
            break;
        case State::closing:
            if (buffer.size() < 2)
                return;
            if (!buffer.startsWith("\r\n"))
                problem("closing delimiter without its line end");
            buffer.remove(0, 2);
            state = State::epilogue;
            break;
        case State::epilogue:
            if (!buffer.isEmpty())
                problem("bytes after the closing delimiter");
            buffer.clear();
            return;
        }
    }
}

QList<QByteArray> FakeSpeechToTextServer::Request::values(const QByteArray &name) const
{
    QList<QByteArray> result;
    for (const Part &part : textParts) {
        if (part.name == name)
            result.append(part.value);
    }
    return result;
}

FakeSpeechToTextServer::Script FakeSpeechToTextServer::Script::reply(int status, const QByteArray &body)
{
    Script script;
    script.status = status;
    script.body = body;
    return script;
}

FakeSpeechToTextServer::Script FakeSpeechToTextServer::Script::words(const QList<Row> &rows,
                                                                     const QString &language)
{
    QJsonArray words;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const Row &row = rows.at(i);
        if (i > 0) {
            words.append(QJsonObject{{"text", " "}, {"start", rows.at(i - 1).end}, {"end", row.start},
                                     {"type", "spacing"}, {"speaker_id", row.speaker}});
        }
        QJsonObject word{{"text", row.text}, {"start", row.start}, {"end", row.end}, {"type", "word"},
                         {"logprob", -0.1}};
        if (!row.speaker.isEmpty())
            word.insert("speaker_id", row.speaker);
        words.append(word);
        if (i == 0)
            words.append(QJsonObject{{"text", "(music)"}, {"start", row.end}, {"end", row.end},
                                     {"type", "audio_event"}});
    }
    QJsonObject object{{"language_code", language}, {"language_probability", 0.98}, {"words", words}};
    return reply(200, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

FakeSpeechToTextServer::FakeSpeechToTextServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connections;
            m_open.insert(socket, std::make_shared<Connection>());
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_open.remove(socket);
                socket->deleteLater();
            });
            emit connectionAccepted();
        }
    });
}

FakeSpeechToTextServer::~FakeSpeechToTextServer()
{
    // The sockets would report their end to a half-destroyed server otherwise.
    const QList<QTcpSocket *> sockets = m_open.keys();
    m_open.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        delete socket;
    }
}

bool FakeSpeechToTextServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl FakeSpeechToTextServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

void FakeSpeechToTextServer::enqueue(const Script &script)
{
    m_scripts.enqueue(script);
}

void FakeSpeechToTextServer::readFrom(QTcpSocket *socket)
{
    const std::shared_ptr<Connection> connection = m_open.value(socket);
    if (!connection || connection->state == Connection::State::done) {
        socket->readAll();
        return;
    }
    Request &request = connection->request;
    QByteArray incoming = socket->readAll();
    if (connection->state == Connection::State::head) {
        connection->buffer += incoming;
        const qsizetype end = connection->buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = connection->buffer.left(end).split('\n');
        incoming = connection->buffer.mid(end + 4);
        connection->buffer.clear();
        const QList<QByteArray> first = lines.front().trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        bool ok = false;
        connection->contentLength = request.header("content-length").toLongLong(&ok);
        if (!ok)
            connection->contentLength = -1;
        const QByteArray type = request.header("content-type");
        const QByteArray prefix = "multipart/form-data; boundary=";
        if (type.startsWith(prefix))
            request.boundary = type.mid(prefix.size());
        if (request.method != "POST")
            connection->problem("method " + request.method);
        if (request.path != "/v1/speech-to-text")
            connection->problem("path " + request.path);
        if (request.header("xi-api-key") != expectedKey)
            connection->problem("wrong xi-api-key");
        if (request.boundary.isEmpty())
            connection->problem("no boundary in " + type);
        if (connection->contentLength < 0)
            connection->problem("no content length");
        connection->state = request.boundary.isEmpty() ? Connection::State::epilogue
                                                        : Connection::State::preamble;
    }
    const qint64 wanted = std::max<qint64>(0, connection->contentLength - connection->bodyReceived);
    const QByteArray body = incoming.left(wanted);
    connection->bodyReceived += body.size();
    request.bodySize = connection->bodyReceived;
    if (!request.boundary.isEmpty()) {
        connection->buffer += body;
        connection->parseBody();
    }
    if (connection->bodyReceived < connection->contentLength)
        return;
    if (connection->state != Connection::State::epilogue)
        connection->problem("body ended inside the multipart");
    connection->state = Connection::State::done;
    m_requests.append(request);
    emit requestReceived();
    answer(socket, request);
}

void FakeSpeechToTextServer::answer(QTcpSocket *socket, const Request &request)
{
    Script script;
    if (!request.problem.isEmpty()) {
        script = Script::reply(400, QJsonDocument(QJsonObject{{"detail", QString::fromUtf8("fake: " + request.problem)}})
                                        .toJson(QJsonDocument::Compact));
    } else if (!m_scripts.isEmpty()) {
        script = m_scripts.dequeue();
    } else {
        script = Script::words({{QStringLiteral("Hello."), 0.0, 0.5, QStringLiteral("speaker_0")}});
    }
    if (script.silent)
        return;
    QPointer<QTcpSocket> target(socket);
    const auto send = [target, script] {
        if (!target)
            return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(script.status) + " Fake\r\n"
            + "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(script.body.size())
            + "\r\nConnection: close\r\n";
        for (const auto &[name, value] : script.headers)
            head += name + ": " + value + "\r\n";
        head += "\r\n";
        target->write(head);
        if (script.cutShort) {
            target->write(script.body.left(script.body.size() / 2));
            target->flush();
            target->disconnectFromHost();
            return;
        }
        target->write(script.body);
        target->disconnectFromHost();
    };
    if (script.delayMs > 0)
        QTimer::singleShot(script.delayMs, this, send);
    else
        send();
}
