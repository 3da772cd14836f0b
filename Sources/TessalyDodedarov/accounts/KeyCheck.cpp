#include "accounts/KeyCheck.h"

#include "common/NetworkManagers.h"
#include "common/ServiceRequest.h"
#include "translation/DeepSeekTransport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QCoreApplication>

namespace {

QNetworkAccessManager *network()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = NetworkManagers::make();
    return manager;
}

QUrl joined(const QUrl &base, const QString &path)
{
    QUrl url = base;
    QString prefix = url.path();
    if (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    url.setPath(prefix + path);
    return url;
}

// One GET with the key in its provider's header; `done` receives the reply once it finished.
void get(const QUrl &url, KeyProvider provider, const QString &key,
         std::function<void(QNetworkReply *)> done)
{
    QNetworkRequest request = ServiceRequest::to(url);
    if (provider == KeyProvider::elevenLabs)
        request.setRawHeader("xi-api-key", key.toUtf8());
    else
        request.setRawHeader("Authorization", "Bearer " + key.toUtf8());
    // The key rides in a header; a redirect must not carry it to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(int(KeyCheck::timeoutInterval * 1000.0));
    QNetworkReply *reply = network()->get(request);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, done = std::move(done)] {
        reply->deleteLater();
        done(reply);
    });
}

std::optional<int> statusOf(QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return std::nullopt;
    return status.toInt();
}

} // namespace

QUrl KeyCheck::checkAddress(KeyProvider provider)
{
    return provider == KeyProvider::elevenLabs
        ? joined(elevenLabsAddress, QStringLiteral("/v1/models"))
        : joined(DeepSeekTransport::baseAddress, QStringLiteral("/models"));
}

QUrl KeyCheck::balanceAddress(KeyProvider provider)
{
    return provider == KeyProvider::elevenLabs
        ? joined(elevenLabsAddress, QStringLiteral("/v1/user/subscription"))
        : joined(DeepSeekTransport::baseAddress, QStringLiteral("/user/balance"));
}

void KeyCheck::check(KeyProvider provider, const QString &key, StatusHandler completion)
{
    get(checkAddress(provider), provider, key,
        [provider, completion = std::move(completion)](QNetworkReply *reply) {
            // Qt reports 401 and 403 as errors too; the status still decides.
            if (const std::optional<int> status = statusOf(reply)) {
                // A cut through a multi-byte character must not blank the whole text: the
                // broken tail becomes U+FFFD and a "permission" before it is still found.
                const QString body = QString::fromUtf8(reply->read(bodyLimit));
                completion(KeyStatus::from(provider, *status, body));
            } else if (reply->error() != QNetworkReply::NoError) {
                completion(KeyStatus::unreachable(QStringLiteral("网络不通")));
            } else {
                completion(KeyStatus::unreachable(QStringLiteral("没有响应")));
            }
        });
}

void KeyCheck::balance(KeyProvider provider, const QString &key, BalanceHandler completion)
{
    get(balanceAddress(provider), provider, key,
        [provider, completion = std::move(completion)](QNetworkReply *reply) {
            const int status = statusOf(reply).value_or(0);
            if (provider == KeyProvider::elevenLabs) {
                if (status == 200) {
                    if (const auto quota = ElevenLabsQuota::parse(reply->readAll()))
                        return completion(BalanceInfo::quota(*quota));
                } else if (status == 401 || status == 403) {
                    return completion(BalanceInfo::unavailable(QStringLiteral(
                        "这个密钥没有读取额度的权限（在 ElevenLabs 后台给它加上读取用户信息的权限就能显示）")));
                }
                return completion(std::nullopt);
            }
            if (status == 200)
                return completion(BalanceInfo::deepSeek(reply->readAll()));
            completion(std::nullopt);
        });
}
