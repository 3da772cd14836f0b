#include "platform/ChromiumDevTools.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

namespace {

// The file holds the port and the browser's WebSocket path, a few dozen bytes.
constexpr qint64 maxPortFileSize = 4096;

} // namespace

std::optional<quint16> ChromiumDevTools::port(const QByteArray &portFile)
{
    const qsizetype end = portFile.indexOf('\n');
    const QByteArray line = (end < 0 ? portFile : portFile.left(end)).trimmed();
    if (line.isEmpty() || line.size() > 5)
        return std::nullopt;
    for (const char c : line) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    const int number = line.toInt();
    if (number < 1 || number > 65535)
        return std::nullopt;
    return quint16(number);
}

QString ChromiumDevTools::folderOf(const QString &browserFolder)
{
    const QString home = configHome.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                             : configHome;
    return home + u'/' + browserFolder;
}

std::optional<quint16> ChromiumDevTools::portOf(const QString &folder)
{
    QFile file(folder + QStringLiteral("/DevToolsActivePort"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return port(file.read(maxPortFileSize));
}

QList<BrowserPage> ChromiumDevTools::parseListing(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return {};
    QList<BrowserPage> pages;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject target = value.toObject();
        // Service workers, extensions' background pages and iframes are listed too.
        if (target.value(QLatin1String("type")).toString() != QLatin1String("page"))
            continue;
        const QString url = target.value(QLatin1String("url")).toString();
        if (url.isEmpty())
            continue;
        pages.append({url, target.value(QLatin1String("title")).toString()});
    }
    return pages;
}

QList<BrowserPage> ChromiumDevTools::read(const QString &folder, int limitMs)
{
    const std::optional<quint16> listening = portOf(folder);
    if (!listening)
        return {};

    QUrl address;
    address.setScheme(QStringLiteral("http"));
    address.setHost(QStringLiteral("127.0.0.1"));
    address.setPort(*listening);
    address.setPath(QStringLiteral("/json/list"));
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);

    // This runs on a worker thread, so a local event loop holds up nobody.
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkReply *reply = manager.get(request);
    QByteArray body;
    bool tooLong = false;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        body += reply->readAll();
        if (body.size() > maxListingSize) {
            tooLong = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, reply, &QNetworkReply::abort);
    limit.start(limitMs);
    if (!reply->isFinished())
        loop.exec();
    limit.stop();

    // An aborted reply (over the cap, out of time) is closed and has nothing more to read.
    bool usable = !tooLong && reply->error() == QNetworkReply::NoError
                  && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
    if (usable) {
        body += reply->readAll();
        usable = body.size() <= maxListingSize;
    }
    delete reply;
    return usable ? parseListing(body) : QList<BrowserPage>{};
}
