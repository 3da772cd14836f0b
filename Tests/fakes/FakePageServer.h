#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

#include <memory>
#include <optional>

class QTcpSocket;

// A web server on 127.0.0.1 speaking HTTP/1.1, for tests that fetch pages or JSON listings.
// Each path is served from a scripted page: status, Content-Type, further header lines, and a
// body framed by Content-Length (true or declared), chunked transfer encoding or the end of the
// connection, written in steps with pauses, drops, trickles and endless or oversized streams.
// One request per connection ("Connection: close"). Requests for a path nothing serves get a
// 404; requests lacking an expected header get a 400 and are listed in problems().
class FakePageServer final : public QObject {
    Q_OBJECT
public:
    enum class Framing {
        length,  // Content-Length: the declared length, else the body's real size
        chunked, // Transfer-Encoding: chunked, one chunk per write
        close,   // no length: the body ends when the server closes the connection
    };

    struct Step {
        enum class Kind { send, pause, drop, repeat };
        Kind kind = Kind::send;
        QByteArray bytes;  // send, repeat
        int ms = 0;        // pause; repeat: the wait between two writes (0: as fast as it drains)
        qint64 count = 0;  // repeat: how many writes; negative: without end
    };

    struct Page {
        int status = 200;
        QByteArray contentType = "text/html; charset=utf-8"; // empty: no Content-Type line
        QList<QPair<QByteArray, QByteArray>> headers;
        Framing framing = Framing::length;
        std::optional<qint64> declaredLength; // Framing::length: written instead of the real size
        int headDelayMs = 0;                  // a slow response head
        QList<Step> steps;

        Page &send(const QByteArray &bytes);
        Page &pause(int ms);
        Page &drop(); // the connection is cut here, the body unfinished
        Page &repeat(const QByteArray &bytes, qint64 count, int everyMs = 0);
        Page &header(const QByteArray &name, const QByteArray &value);

        QByteArray body() const; // every byte the steps send when they run to the end
    };

    struct Request {
        QByteArray method;
        QByteArray path; // with the query
        QHash<QByteArray, QByteArray> headers; // names in lower case
        qint64 bytesSent = 0; // body bytes written to the socket
        bool completed = false; // the whole response was written
        bool closedByClient = false; // the client hung up before the response was complete

        QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    };

    static Page html(const QByteArray &body,
                     const QByteArray &contentType = "text/html; charset=utf-8");
    static Page json(const QByteArray &body);
    static Page error(int status, const QByteArray &body = "<html><body>error</body></html>");
    static Page redirect(const QByteArray &location, int status = 302);

    explicit FakePageServer(QObject *parent = nullptr);
    ~FakePageServer() override;

    bool listen();
    quint16 port() const;
    QUrl url(const QString &path) const; // "/page?x=1" -> http://127.0.0.1:port/page?x=1

    // Every later request for this exact path (query included) gets this page.
    void serve(const QByteArray &path, const Page &page);
    // Requests must carry this header with exactly this value.
    void expectHeader(const QByteArray &name, const QByteArray &value);

    const QList<Request> &requests() const { return m_requests; }
    QStringList problems() const { return m_problems; }
    int openConnections() const;

signals:
    void requestReceived(int index);
    void responseEnded(int index); // completed, cut by a drop, or closed by the client

private:
    struct Connection;
    void readFrom(QTcpSocket *socket);
    void answer(const std::shared_ptr<Connection> &connection, const Page &page);
    void pump(const std::shared_ptr<Connection> &connection);
    void end(const std::shared_ptr<Connection> &connection);

    QTcpServer m_server;
    QHash<QByteArray, Page> m_pages;
    QList<QPair<QByteArray, QByteArray>> m_expected;
    QList<Request> m_requests;
    QStringList m_problems;
    QHash<QTcpSocket *, std::shared_ptr<Connection>> m_connections;
};
