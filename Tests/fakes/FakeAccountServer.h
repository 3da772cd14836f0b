#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// A stand-in for the account endpoints of both services on 127.0.0.1: the recognition
// service's "/v1/models" and "/v1/user/subscription" (key in "xi-api-key"), the translation
// service's "/models" and "/user/balance" (key as "Bearer" in "Authorization"). Each request is
// recorded with its headers; its answer is scripted per path (status and body), or a stall that
// never answers. A request with a missing or wrong key header is answered 400 and recorded as
// such, so a test sees the fault.
class FakeAccountServer final : public QObject {
    Q_OBJECT
public:
    struct Answer {
        int status = 200;
        QByteArray body = "{}";
        bool stall = false; // read the request, never answer
    };

    struct Request {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        bool keyHeaderRight = false;

        QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    };

    explicit FakeAccountServer(QObject *parent = nullptr);
    ~FakeAccountServer() override;

    bool listen();
    QUrl baseUrl() const;

    // The key every request must carry.
    QByteArray expectedKey = "test-key";

    void script(const QByteArray &path, const Answer &answer) { m_answers.insert(path, answer); }
    const QList<Request> &requests() const { return m_requests; }

signals:
    void requestReceived();

private:
    void readFrom(QTcpSocket *socket);

    QTcpServer m_server;
    QHash<QByteArray, Answer> m_answers;
    QList<Request> m_requests;
    QHash<QTcpSocket *, QByteArray> m_pending;
};
