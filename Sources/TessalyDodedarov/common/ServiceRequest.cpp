#include "common/ServiceRequest.h"

QNetworkRequest ServiceRequest::to(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    return request;
}
