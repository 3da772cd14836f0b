#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QQueue>
#include <QTcpServer>
#include <QUrl>

#include <memory>

class QTcpSocket;

// A stand-in for ElevenLabs' batch speech-to-text endpoint on 127.0.0.1, speaking HTTP/1.1.
// Each request is checked (method "POST", path "/v1/speech-to-text", "xi-api-key", the
// multipart boundary) and its multipart body parsed as it streams in: the text parts in order,
// and of the file part only its name, size and SHA-256, so a large upload is never held. Then it
// answers from the next queued script; with none queued, a reply with one word.
class FakeSpeechToTextServer final : public QObject {
    Q_OBJECT
public:
    struct Script {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers; // extra response headers
        int delayMs = 0;       // pause after the request arrived, before the head
        bool silent = false;   // never answer; the connection stays open
        bool cutShort = false; // declare the whole body, send half of it and close

        static Script reply(int status, const QByteArray &body);
        // A words reply, given (text, start, end, speaker) rows; spacing and an audio event are
        // mixed in as the service does.
        struct Row {
            QString text;
            double start;
            double end;
            QString speaker;
        };
        static Script words(const QList<Row> &rows, const QString &language = QStringLiteral("en"));
    };

    struct Part {
        QByteArray name;
        QByteArray value;
        bool operator==(const Part &) const = default;
    };

    struct Request {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray boundary;
        QList<Part> textParts;
        QByteArray fileField;
        QByteArray fileName;  // the raw filename="..." value
        QByteArray fileContentType;
        qint64 fileSize = 0;
        QByteArray fileSha256;
        qint64 bodySize = 0;
        QByteArray problem;   // empty when the request is well formed

        QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
        QList<QByteArray> values(const QByteArray &name) const;
    };

    explicit FakeSpeechToTextServer(QObject *parent = nullptr);
    ~FakeSpeechToTextServer() override;

    bool listen();
    QUrl baseUrl() const;

    QByteArray expectedKey = "test-elevenlabs-key";
    void enqueue(const Script &script);
    const QList<Request> &requests() const { return m_requests; }
    // Connections accepted, whether or not a request completed on them.
    int connections() const { return m_connections; }

signals:
    void requestReceived();
    void connectionAccepted();

private:
    struct Connection;
    void readFrom(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);

    QTcpServer m_server;
    QQueue<Script> m_scripts;
    QList<Request> m_requests;
    QHash<QTcpSocket *, std::shared_ptr<Connection>> m_open;
    int m_connections = 0;
};
