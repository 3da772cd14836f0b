#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

// A stand-in for the realtime speech-to-text service on 127.0.0.1. It checks what a client
// sends (path, query, "xi-api-key" header, every audio message) and lets a test script the
// conversation: session start, transcripts with words and speakers, merges, errors, odd
// messages and closes. It can also refuse the upgrade with an HTTP status or accept the TCP
// connection and never answer.
class FakeScribeServer final : public QObject {
    Q_OBJECT
public:
    enum class Mode {
        accept,    // a working WebSocket service
        refuse401, // answers the upgrade with "401 Unauthorized"
        refuse403, // answers the upgrade with "403 Forbidden"
        refuse,    // answers the upgrade with `refusalStatus`
        silent,    // accepts TCP, reads the request and never answers
    };

    struct Connection {
        QString path;
        QList<QPair<QString, QString>> query; // decoded, in order
        QByteArray apiKey;
        QList<QByteArray> chunks;  // decoded PCM of each valid audio message
        QList<QString> badMessages; // text messages that were not a valid audio message
        int binaryMessages = 0;
        bool closedByClient = false;
        QPointer<QWebSocket> socket;

        QByteArray audio() const;
        QStringList values(const QString &key) const;
        bool has(const QString &key) const { return !values(key).isEmpty(); }
    };

    explicit FakeScribeServer(QObject *parent = nullptr);
    ~FakeScribeServer() override;

    // Listens on 127.0.0.1 (a free port) and points nothing: the test sets the client's address.
    bool listen();
    QUrl address() const; // ws://127.0.0.1:<port>

    Mode mode = Mode::accept;
    QByteArray expectedKey = "test-key";
    bool startSession = true; // "session_started" as soon as a client connects
    bool closeAtOnce = false;  // closes every connection before its session starts
    bool keepAudio = true;     // false: audio messages are checked and counted, not kept
    qint64 audioBytes = 0;     // decoded audio received over all connections
    int refusalStatus = 429;   // the answer of Mode::refuse
    // Whatever a client wrote after its refused upgrade request (a refused client has nothing
    // more to say), and how many refused connections the clients have ended.
    QByteArray strayBytes;
    int refusedEnded = 0;

    QList<Connection> &connections() { return m_connections; }
    Connection &last() { return m_connections.last(); }
    int rawConnections() const { return m_rawConnections; }

    // Scripting, always to the newest connection.
    void send(const QJsonObject &message);
    void sendText(const QString &text);
    void sendBinary(const QByteArray &bytes);
    void closeFromServer();

    static QJsonObject sessionStarted();
    static QJsonObject partial(const QString &text, const QJsonArray &words);
    static QJsonObject partial(const QString &text); // without "words"
    static QJsonObject committed(const QString &text);
    static QJsonObject speakersMerged(const QString &from, const QString &to);
    static QJsonObject error(const QString &type, const QString &message);
    static QJsonObject word(const QString &text, const QString &speaker);
    static QJsonObject spacing();
    static QJsonObject audioEvent(const QString &text, const QString &speaker);

signals:
    void clientConnected();
    void audioReceived(qsizetype bytes);
    void clientClosed();

private:
    void onTcpConnection();
    void onWebSocket();
    void onText(Connection &connection, const QString &text);

    QTcpServer m_tcp;
    QWebSocketServer m_ws;
    QList<Connection> m_connections;
    int m_rawConnections = 0;
};
