#include "fakes/FakePageServer.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

// While the client keeps up, an unpaced stream writes until this much waits in the socket.
constexpr qint64 kDrainMark = 256 * 1024;

} // namespace

struct FakePageServer::Connection {
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    int index = -1;
    Framing framing = Framing::length;
    QList<Step> steps;
    qint64 repeatsLeft = 0;
    bool repeating = false;
    bool waitingForDrain = false;
    bool ended = false;
};

FakePageServer::Page &FakePageServer::Page::send(const QByteArray &bytes)
{
    steps.append({Step::Kind::send, bytes, 0, 0});
    return *this;
}

FakePageServer::Page &FakePageServer::Page::pause(int ms)
{
    steps.append({Step::Kind::pause, {}, ms, 0});
    return *this;
}

FakePageServer::Page &FakePageServer::Page::drop()
{
    steps.append({Step::Kind::drop, {}, 0, 0});
    return *this;
}

FakePageServer::Page &FakePageServer::Page::repeat(const QByteArray &bytes, qint64 count,
                                                   int everyMs)
{
    steps.append({Step::Kind::repeat, bytes, everyMs, count});
    return *this;
}

FakePageServer::Page &FakePageServer::Page::header(const QByteArray &name, const QByteArray &value)
{
    headers.append({name, value});
    return *this;
}

QByteArray FakePageServer::Page::body() const
{
    QByteArray all;
    for (const Step &step : steps) {
        if (step.kind == Step::Kind::send)
            all += step.bytes;
        else if (step.kind == Step::Kind::repeat && step.count > 0)
            all += step.bytes.repeated(step.count);
        else if (step.kind == Step::Kind::drop || step.kind == Step::Kind::repeat)
            break;
    }
    return all;
}

FakePageServer::Page FakePageServer::html(const QByteArray &body, const QByteArray &contentType)
{
    Page page;
    page.contentType = contentType;
    page.send(body);
    return page;
}

FakePageServer::Page FakePageServer::json(const QByteArray &body)
{
    return html(body, "application/json; charset=UTF-8");
}

FakePageServer::Page FakePageServer::error(int status, const QByteArray &body)
{
    Page page = html(body);
    page.status = status;
    return page;
}

FakePageServer::Page FakePageServer::redirect(const QByteArray &location, int status)
{
    Page page = html("<html><body>moved</body></html>");
    page.status = status;
    page.header("Location", location);
    return page;
}

FakePageServer::FakePageServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            auto connection = std::make_shared<Connection>();
            connection->socket = socket;
            m_connections.insert(socket, connection);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::bytesWritten, this, [this, connection] {
                if (connection->waitingForDrain && connection->socket
                    && connection->socket->bytesToWrite() < kDrainMark) {
                    connection->waitingForDrain = false;
                    pump(connection);
                }
            });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket, connection] {
                if (connection->index >= 0 && !connection->ended) {
                    m_requests[connection->index].closedByClient = true;
                    end(connection);
                }
                m_connections.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

FakePageServer::~FakePageServer() = default;

bool FakePageServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

quint16 FakePageServer::port() const
{
    return m_server.serverPort();
}

QUrl FakePageServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void FakePageServer::serve(const QByteArray &path, const Page &page)
{
    m_pages.insert(path, page);
}

void FakePageServer::expectHeader(const QByteArray &name, const QByteArray &value)
{
    m_expected.append({name.toLower(), value});
}

int FakePageServer::openConnections() const
{
    return int(m_connections.size());
}

void FakePageServer::readFrom(QTcpSocket *socket)
{
    const std::shared_ptr<Connection> connection = m_connections.value(socket);
    if (!connection || connection->index >= 0) {
        socket->readAll(); // one request per connection; anything after it is ignored
        return;
    }
    connection->buffer.append(socket->readAll());
    const qsizetype headEnd = connection->buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = connection->buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    connection->buffer.clear();
    connection->index = int(m_requests.size());
    m_requests.append(request);
    emit requestReceived(connection->index);

    Page page;
    bool headersGood = true;
    for (const auto &[name, value] : m_expected) {
        if (request.header(name) != value) {
            headersGood = false;
            m_problems.append(QStringLiteral("%1: header %2 was \"%3\"")
                                  .arg(QString::fromLatin1(request.path), QString::fromLatin1(name),
                                       QString::fromLatin1(request.header(name))));
        }
    }
    if (!headersGood)
        page = error(400);
    else if (request.method != "GET")
        page = error(405);
    else if (m_pages.contains(request.path))
        page = m_pages.value(request.path);
    else
        page = error(404);

    if (page.headDelayMs > 0) {
        QTimer::singleShot(page.headDelayMs, this,
                           [this, connection, page] { answer(connection, page); });
    } else {
        answer(connection, page);
    }
}

void FakePageServer::answer(const std::shared_ptr<Connection> &connection, const Page &page)
{
    if (!connection->socket || connection->ended)
        return;
    Framing framing = page.framing;
    bool endless = false;
    for (const Step &step : page.steps)
        endless = endless || (step.kind == Step::Kind::repeat && step.count < 0);
    if (framing == Framing::length && endless && !page.declaredLength)
        framing = Framing::close;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(page.status) + ' ' + reason(page.status)
                      + "\r\n";
    if (!page.contentType.isEmpty())
        head += "Content-Type: " + page.contentType + "\r\n";
    for (const auto &[name, value] : page.headers)
        head += name + ": " + value + "\r\n";
    if (framing == Framing::length)
        head += "Content-Length: "
                + QByteArray::number(page.declaredLength.value_or(page.body().size())) + "\r\n";
    else if (framing == Framing::chunked)
        head += "Transfer-Encoding: chunked\r\n";
    head += "Connection: close\r\n\r\n";
    connection->socket->write(head);
    connection->framing = framing;
    connection->steps = page.steps;
    pump(connection);
}

void FakePageServer::pump(const std::shared_ptr<Connection> &connection)
{
    auto write = [this, &connection](const QByteArray &bytes) {
        if (bytes.isEmpty())
            return; // an empty chunk would end a chunked body
        if (connection->framing == Framing::chunked)
            connection->socket->write(QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n");
        else
            connection->socket->write(bytes);
        m_requests[connection->index].bytesSent += bytes.size();
    };

    while (connection->socket && !connection->ended) {
        if (connection->steps.isEmpty()) {
            if (connection->framing == Framing::chunked)
                connection->socket->write("0\r\n\r\n");
            m_requests[connection->index].completed = true;
            end(connection);
            connection->socket->disconnectFromHost();
            return;
        }
        Step &step = connection->steps.first();
        switch (step.kind) {
        case Step::Kind::send:
            write(step.bytes);
            connection->steps.removeFirst();
            break;
        case Step::Kind::pause: {
            const int ms = step.ms;
            connection->steps.removeFirst();
            QTimer::singleShot(ms, this, [this, connection] { pump(connection); });
            return;
        }
        case Step::Kind::drop:
            end(connection);
            connection->socket->abort();
            return;
        case Step::Kind::repeat:
            if (!connection->repeating) {
                connection->repeating = true;
                connection->repeatsLeft = step.count;
            }
            if (connection->repeatsLeft == 0) {
                connection->repeating = false;
                connection->steps.removeFirst();
                break;
            }
            write(step.bytes);
            if (connection->repeatsLeft > 0)
                --connection->repeatsLeft;
            if (step.ms > 0) {
                connection->socket->flush();
                QTimer::singleShot(step.ms, this, [this, connection] { pump(connection); });
                return;
            }
            if (connection->socket->bytesToWrite() >= kDrainMark) {
                connection->waitingForDrain = true;
                return;
            }
            break;
        }
    }
}

void FakePageServer::end(const std::shared_ptr<Connection> &connection)
{
    if (connection->ended)
        return;
    connection->ended = true;
    emit responseEnded(connection->index);
}
