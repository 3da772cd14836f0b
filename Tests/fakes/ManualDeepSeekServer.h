#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

// A chat-completions stand-in on 127.0.0.1 whose answers the test writes by hand, piece by
// piece, while the request stays open: the test decides when each streamed event, the end, an
// error status or a dropped connection reaches the client. That makes interleavings of several
// requests (one live, two background) exact instead of timed. Speaks HTTP/1.1 with server-sent
// events in chunked transfer encoding; one request per connection.
class ManualDeepSeekServer final : public QObject {
    Q_OBJECT
public:
    struct Exchange {
        QByteArray authorization;
        QJsonObject json;
        QPointer<QTcpSocket> socket;
        bool headSent = false;
        bool closed = false;

        QString system() const;      // content of the first message when it is the system one
        QString lastUser() const;    // content of the last user message
        QStringList roles() const;
    };

    explicit ManualDeepSeekServer(QObject *parent = nullptr);

    bool listen();
    QUrl baseUrl() const;

    int count() const { return int(m_exchanges.size()); }
    const Exchange &at(int i) const { return m_exchanges.at(i); }
    // Requests whose answer is not finished yet.
    QList<int> open() const;

    // Streams one content delta (as one SSE event, one chunk).
    void delta(int i, const QString &text);
    // Streams several deltas, then "[DONE]" when asked, and ends the response.
    void reply(int i, const QStringList &pieces, bool withDone = true);
    void finish(int i, bool withDone = true);
    // Answers with an error status and a JSON error body.
    void fail(int i, int status);
    // Sends the response head when it was not sent yet, then cuts the connection without
    // ending the chunked body.
    void drop(int i);

    // Called for every request as it arrives (after it is recorded); may answer at once.
    std::function<void(int index)> onRequest;

signals:
    void requestReceived(int index);

private:
    void readFrom(QTcpSocket *socket);
    void sendHead(Exchange &exchange);
    void writeChunk(Exchange &exchange, const QByteArray &bytes);

    QTcpServer m_server;
    QList<Exchange> m_exchanges;
};
