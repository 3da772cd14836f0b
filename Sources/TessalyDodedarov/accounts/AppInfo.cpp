#include "accounts/AppInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QSysInfo>

#include <memory>

namespace {

// One dotted piece as a number: its numeric characters read as a decimal 64-bit integer; a
// piece with none, with numerals of other scripts, or too large for 64 bits counts as 0.
qint64 pieceValue(const QString &piece)
{
    QString kept;
    for (const char32_t c : piece.toUcs4()) {
        if (QChar::isNumber(c))
            kept.append(QString::fromUcs4(&c, 1));
    }
    if (kept.isEmpty())
        return 0;
    qint64 value = 0;
    for (const QChar c : std::as_const(kept)) {
        if (c < u'0' || c > u'9')
            return 0;
        const int digit = c.unicode() - u'0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return value;
}

QList<qint64> parts(const QString &version)
{
    QList<qint64> numbers;
    for (const QString &piece : version.split(u'.', Qt::SkipEmptyParts))
        numbers.append(pieceValue(piece));
    return numbers;
}

// The value of one os-release entry: quotes removed and backslash escapes undone.
QString osReleaseValue(QByteArrayView raw)
{
    QString text = QString::fromUtf8(raw).trimmed();
    if (text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') && text.back() == text.front())
        text = text.mid(1, text.size() - 2);
    QString value;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'\\' && i + 1 < text.size())
            ++i;
        value.append(text.at(i));
    }
    return value;
}

} // namespace

QString AppInfo::version()
{
    const QString set = QCoreApplication::applicationVersion();
    return set.isEmpty() ? QStringLiteral("0.6.0") : set;
}

QString AppInfo::rootPage() { return siteURL + QStringLiteral("/"); }
QString AppInfo::guidePage() { return siteURL + QStringLiteral("/guide.html"); }
QString AppInfo::privacyPage() { return siteURL + QStringLiteral("/privacy.html"); }
QString AppInfo::changelogPage() { return siteURL + QStringLiteral("/changelog.html"); }

std::optional<QUrl> AppInfo::feedbackURL(const QString &system)
{
    const QString subject = QStringLiteral("泰萨利字幕 ") + version() + QStringLiteral(" 意见反馈");
    const QString body = QStringLiteral("\n\n\n——\n软件版本：") + version() + QStringLiteral("\n系统：")
        + system + QStringLiteral("\n");
    // Everything outside the unreserved characters is encoded, so "&", "=" or "#" in a value can
    // never cut the query short.
    const QByteArray link = "mailto:" + QUrl::toPercentEncoding(feedbackAddress, "@") + "?subject="
        + QUrl::toPercentEncoding(subject) + "&body=" + QUrl::toPercentEncoding(body);
    const QUrl url = QUrl::fromEncoded(link, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QString AppInfo::systemLine()
{
    QFile file(osReleasePath);
    QByteArray osRelease;
    if (file.open(QIODevice::ReadOnly))
        osRelease = file.read(64 * 1024);
    return systemLine(QSysInfo::kernelVersion(), osRelease);
}

QString AppInfo::systemLine(const QString &kernelRelease, const QByteArray &osRelease)
{
    static const QRegularExpression numbers(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = numbers.match(kernelRelease);
    auto number = [&match](int group) {
        const QString text = match.captured(group);
        return text.isEmpty() ? QStringLiteral("0") : QString::number(text.toULongLong());
    };
    QString line = QStringLiteral("Linux ") + number(1) + u'.' + number(2) + u'.' + number(3);
    QString pretty;
    for (const QByteArray &entry : osRelease.split('\n')) {
        if (entry.startsWith("PRETTY_NAME="))
            pretty = osReleaseValue(QByteArrayView(entry).sliced(12));
    }
    if (!pretty.isEmpty())
        line += QStringLiteral(" (") + pretty + u')';
    return line;
}

bool AppInfo::isNewer(const QString &candidate, const QString &current)
{
    const QList<qint64> a = parts(candidate);
    const QList<qint64> b = parts(current);
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        const qint64 x = i < a.size() ? a.at(i) : 0;
        const qint64 y = i < b.size() ? b.at(i) : 0;
        if (x != y)
            return x > y;
    }
    return false;
}

std::optional<AppInfo::Release> AppInfo::Release::parse(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QLatin1String("version"));
    if (!version.isString() || version.toString().isEmpty())
        return std::nullopt;
    Release release;
    release.version = version.toString();
    const QJsonValue url = object.value(QLatin1String("url"));
    release.url = url.isString() ? url.toString() : rootPage();
    const QJsonValue notes = object.value(QLatin1String("notes"));
    if (notes.isString())
        release.notes = notes.toString();
    return release;
}

QUrl AppInfo::releaseLink(const QString &url)
{
    const QUrl link(url, QUrl::StrictMode);
    const QString scheme = link.scheme();
    if (link.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !link.host().isEmpty())
        return link;
    return QUrl(changelogPage());
}

AppInfo::UpdateOutcome AppInfo::describe(const std::optional<Release> &release)
{
    if (!release)
        return {QStringLiteral("暂时连不上网站，请稍后再试。"), std::nullopt};
    if (isNewer(release->version, version())) {
        QString message = QStringLiteral("有新版本 ") + release->version + QStringLiteral("，点这里下载");
        if (release->notes && !release->notes->isEmpty())
            message += QStringLiteral("：") + *release->notes;
        return {message, releaseLink(release->url)};
    }
    return {QStringLiteral("已经是最新版本（") + version() + QStringLiteral("）。"), std::nullopt};
}

void AppInfo::fetchRelease(QObject *context, std::function<void(std::optional<Release>)> done)
{
    // One manager per check: checks are rare, and this keeps the fetch independent of whoever
    // asked (a closed settings window still gets its answer).
    auto *manager = new QNetworkAccessManager;
    QNetworkRequest request(QUrl(siteURL + QStringLiteral("/version.json")));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(updateTimeoutMs);
    QNetworkReply *reply = manager->get(request);

    struct Body {
        QByteArray bytes;
        bool oversize = false;
    };
    auto body = std::make_shared<Body>();
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, body] {
        body->bytes += reply->readAll();
        if (body->bytes.size() > maxReleaseBytes && !body->oversize) {
            body->oversize = true;
            body->bytes.clear();
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, manager,
        [reply, body, manager, guard = QPointer<QObject>(context), done = std::move(done)] {
            if (!body->oversize && reply->isOpen())
                body->bytes += reply->readAll();
            // Any answer from the server is read, whatever its status; a transport failure or
            // the time-out is none.
            const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
            const bool broken = reply->error() == QNetworkReply::OperationCanceledError
                || reply->error() == QNetworkReply::TimeoutError
                || reply->error() == QNetworkReply::RemoteHostClosedError;
            std::optional<Release> release;
            if (answered && !broken && !body->oversize && body->bytes.size() <= maxReleaseBytes)
                release = Release::parse(body->bytes);
            reply->deleteLater();
            manager->deleteLater();
            if (guard)
                done(release);
        });
}
