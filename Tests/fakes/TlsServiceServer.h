#pragma once

#include <QByteArray>
#include <QList>
#include <QSslServer>
#include <QUrl>

#include <functional>

class QTcpSocket;

// A service on 127.0.0.1 behind TLS, offering HTTP/2 and HTTP/1.1 by ALPN as the real speech and
// chat services do (or HTTP/1.1 alone), with a self-signed certificate for 127.0.0.1 that
// `trustCertificate()` adds to this process's default TLS configuration.
//
// Each connection's chosen protocol is recorded. One that chose HTTP/1.1 is handed to a cleartext
// server on `relayPort` if one is set (a plain fake, which then serves over TLS: requests and
// WebSocket alike), else answered here: every request (read by its Content-Length) gets
// `answer`. One that chose h2 is handed to a cleartext h2 server on `h2Port` if one is set (the
// benchmarks run nghttpd there), else closed at once.
class TlsServiceServer final : public QSslServer {
    Q_OBJECT
public:
    struct Answer {
        int status = 200;
        QByteArray contentType = "text/event-stream";
        QByteArray body;
        // Off, the connection closes after the answer, so no TLS session outlives the test in
        // the client's connection cache.
        bool keepAlive = false;
    };

    explicit TlsServiceServer(QObject *parent = nullptr);

    static void trustCertificate();
    static QByteArray certificatePem();
    static QByteArray privateKeyPem();

    bool listen(bool offerHttp2 = true);
    QUrl baseUrl() const; // https://127.0.0.1:<port>

    Answer answer;
    quint16 h2Port = 0;
    quint16 relayPort = 0;
    QList<QByteArray> protocols; // one per connection: "h2" or "http/1.1"
    int requests = 0;            // HTTP/1.1 requests answered
    std::function<void(const QByteArray &head, const QByteArray &body)> onRequest;

private:
    void passOn(QTcpSocket *client, quint16 port);
    void serve(QTcpSocket *socket);
};
