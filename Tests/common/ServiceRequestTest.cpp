#include "TestMain.h"

#include "common/ServiceRequest.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// -1 when the socket is not TCP and has no such option.
int noDelayOf(int descriptor)
{
    int value = 0;
    socklen_t size = sizeof value;
    if (getsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &value, &size) != 0)
        return -1;
    return value;
}

}

class ServiceRequestTest final : public QObject {
    Q_OBJECT

private slots:
    void requestsStayOnHttp1()
    {
        const QNetworkRequest request = ServiceRequest::to(QUrl(QStringLiteral("https://127.0.0.1:1/v1/chat")));
        QCOMPARE(request.url(), QUrl(QStringLiteral("https://127.0.0.1:1/v1/chat")));
        QCOMPARE(request.attribute(QNetworkRequest::Http2AllowedAttribute).toBool(), false);
    }

    // A body over 16 KiB leaves in pieces: with Nagle on, each piece after the first would wait
    // for the peer's delayed ACK. Every TCP socket comes out of socket() without that wait; other
    // kinds of socket are handed back untouched.
    void tcpSocketsSendWithoutDelay_data()
    {
        QTest::addColumn<int>("domain");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("expected");
        QTest::newRow("IPv4 stream") << int(AF_INET) << int(SOCK_STREAM) << 1;
        QTest::newRow("IPv4 stream, non-blocking, close-on-exec")
            << int(AF_INET) << int(SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC) << 1;
        QTest::newRow("IPv6 stream") << int(AF_INET6) << int(SOCK_STREAM | SOCK_CLOEXEC) << 1;
        QTest::newRow("IPv4 datagram") << int(AF_INET) << int(SOCK_DGRAM) << -1;
        QTest::newRow("local stream") << int(AF_UNIX) << int(SOCK_STREAM) << -1;
    }

    void tcpSocketsSendWithoutDelay()
    {
        QFETCH(int, domain);
        QFETCH(int, type);
        QFETCH(int, expected);
        const int descriptor = socket(domain, type, 0);
        if (descriptor < 0 && domain == AF_INET6)
            QSKIP("no IPv6 on this machine");
        QVERIFY2(descriptor >= 0, strerror(errno));
        const int noDelay = noDelayOf(descriptor);
        close(descriptor);
        QCOMPARE(noDelay, expected);
    }

    // The path Qt's own sockets take, connected to a loopback server.
    void qtSocketsSendWithoutDelay()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(client.waitForConnected(5000));
        QCOMPARE(noDelayOf(int(client.socketDescriptor())), 1);
        QCOMPARE(client.socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
    }
};

DODEDAROV_TEST(ServiceRequestTest)
#include "ServiceRequestTest.moc"
