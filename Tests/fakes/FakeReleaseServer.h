#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// The maker's site on 127.0.0.1, serving the release record at "/version.json" over HTTP/1.1.
// Each request is recorded (method, path, headers); the answer is the scripted status and body,
// or, when `silent`, nothing at all (the client's time-out). Any other path is a 404.
class FakeReleaseServer final : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
        QByteArray header(const QByteArray &name) const;
    };

    explicit FakeReleaseServer(QObject *parent = nullptr);
    ~FakeReleaseServer() override;

    bool listen();
    QString address() const; // http://127.0.0.1:<port>, to put in AppInfo::siteURL

    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    bool silent = false;

    QList<Request> requests;

signals:
    void requested();

private:
    void readFrom(QTcpSocket *socket);

    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_sockets;
};
