#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

// A stand-in for DeepSeek's chat-completions service on 127.0.0.1, speaking HTTP/1.1 with
// server-sent events in chunked transfer encoding, as the real service does. Each request is
// checked (method, path, "Authorization", "Content-Type", a JSON body), recorded for the test to
// inspect, and answered from the next queued script: a streamed body with chosen pauses, drops
// and raw bytes, or an error status with a JSON error body. With no script queued it streams
// "ok" and "[DONE]".
class FakeDeepSeekServer final : public QObject {
    Q_OBJECT
public:
    struct Step {
        enum class Kind { send, pause, drop };
        Kind kind = Kind::send;
        QByteArray bytes; // Kind::send: written as one chunk
        int ms = 0;       // Kind::pause
    };

    struct Script {
        bool hangUp = false; // the connection is closed after the request, with no answer at all
        int status = 200;
        int headDelayMs = 0; // a slow first byte
        QList<Step> steps;   // the body of a 200
        QByteArray errorBody; // the body of any other status; a JSON error object when empty
        QByteArray location;  // a "Location" header for any other status (a redirect)

        Script &send(const QByteArray &bytes);
        Script &pause(int ms);
        Script &drop(); // the connection is cut here, without the final chunk
        Script &delta(const QString &text);
        Script &done();
        Script &keepAlive();
    };

    struct Request {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        QJsonObject json; // the body, when it is a JSON object
        bool jsonObject = false;

        QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
        QStringList roles() const;
        QStringList contents() const;
        // A well-formed chat-completions call carrying a bearer key.
        bool isChatCall() const
        {
            return method == "POST" && path == "/chat/completions" && jsonObject
                && header("authorization").startsWith("Bearer");
        }
    };

    explicit FakeDeepSeekServer(QObject *parent = nullptr);
    ~FakeDeepSeekServer() override;

    bool listen();
    QUrl baseUrl() const;

    void enqueue(const Script &script);
    const QList<Request> &requests() const { return m_requests; }
    // Every request is counted; it is kept for requests() only while keepRequests holds. A
    // long benchmark turns keeping off, so that its memory figures are the application's.
    qsizetype requestCount() const { return m_requestCount; }
    bool keepRequests = true;

    // One "data:" line of a streamed answer, with its blank line.
    static QByteArray deltaEvent(const QString &text);
    // A chunk that carries only usage ("choices" empty), in one of the two cached-token forms.
    static QByteArray usageEvent(int prompt, int completion, std::optional<int> cacheHit,
                                 std::optional<int> detailsCached);
    // The last content chunk carrying usage as well.
    static QByteArray deltaWithUsageEvent(const QString &text, int prompt, int completion,
                                          int cacheHit);
    static QByteArray doneEvent();
    static Script stream(const QStringList &pieces, bool withDone = true);
    static Script error(int status);
    static Script hungUp();

    // A service without web search: every request offering "tools" gets a 400, whatever its
    // other parameters, and uses no script.
    bool refuseTools = false;

    // Chooses the answer from the request itself, before the queue (a test of the whole
    // application cannot tell in which order its calls come); nothing falls back to the queue.
    std::function<std::optional<Script>(const Request &)> answerFor;

    // Called right after each send step's bytes were handed to the socket (benchmarks time it).
    std::function<void()> onWrite;

signals:
    void requestReceived();

private:
    void readFrom(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);
    // The script is shared, not copied, from one step to the next: a copy per pause would cost
    // the main thread, which the client shares, time proportional to the script's length.
    void runSteps(QPointer<QTcpSocket> socket, std::shared_ptr<const QList<Step>> steps, qsizetype at);

    QTcpServer m_server;
    QQueue<Script> m_scripts;
    QList<Request> m_requests;
    qsizetype m_requestCount = 0;
    QHash<QTcpSocket *, QByteArray> m_pending;
};
