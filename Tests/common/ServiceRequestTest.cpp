#include "TestMain.h"

#include "common/ServiceRequest.h"

class ServiceRequestTest final : public QObject {
    Q_OBJECT

private slots:
    void requestsStayOnHttp1()
    {
        const QNetworkRequest request = ServiceRequest::to(QUrl(QStringLiteral("https://127.0.0.1:1/v1/chat")));
        QCOMPARE(request.url(), QUrl(QStringLiteral("https://127.0.0.1:1/v1/chat")));
        QCOMPARE(request.attribute(QNetworkRequest::Http2AllowedAttribute).toBool(), false);
    }
};

DODEDAROV_TEST(ServiceRequestTest)
#include "ServiceRequestTest.moc"
