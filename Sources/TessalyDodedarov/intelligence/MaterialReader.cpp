#include "intelligence/MaterialReader.h"

#include "common/NetworkManagers.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

constexpr qsizetype kMetaWindow = 4096;
constexpr qint64 kErrorBodyLimit = 64 * 1024;
// Our name for the browsers' single-byte western reading, decoded here rather than by
// QStringDecoder: it reads every byte, so it never reports an error.
constexpr const char *kWindows1252 = "windows-1252";

// windows-1252 as browsers read it: Latin-1 except 0x80-0x9F, which hold the Windows
// punctuation; the five bytes Windows leaves unassigned keep their C1 code points.
QString fromWindows1252(const QByteArray &body)
{
    static constexpr char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text(body.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : body) {
        const auto value = static_cast<unsigned char>(byte);
        *out++ = QChar(value >= 0x80 && value < 0xA0 ? high[value - 0x80] : char16_t(value));
    }
    return text;
}

QNetworkAccessManager *network()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = NetworkManagers::make();
    return manager;
}

bool webScheme(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// The decoder name for a charset label; empty when the label names nothing we can read.
QByteArray decoderName(QByteArray label)
{
    label = label.trimmed().toLower();
    while (!label.isEmpty() && (label.front() == '"' || label.front() == '\''))
        label.remove(0, 1);
    while (!label.isEmpty() && (label.back() == '"' || label.back() == '\''))
        label.chop(1);
    if (label.isEmpty())
        return {};
    // GB18030 reads all of GBK and GB2312; a GB2312 decoder misreads GBK-only characters
    // without reporting an error, and pages labelled gb2312 are nearly always GBK.
    static const QList<QByteArray> chinese{"gb2312", "gbk", "x-gbk", "gb18030", "cp936",
                                           "windows-936"};
    if (chinese.contains(label))
        return "GB18030";
    if (label == "big5" || label == "big5-hkscs")
        return "Big5-HKSCS";
    if (label == "utf8")
        return "UTF-8";
    // Browsers read these labels as windows-1252, so pages that say Latin-1 or ASCII but use
    // Windows quotes and dashes show them; a strict Latin-1 reading gives C1 control characters.
    static const QList<QByteArray> western{"ansi_x3.4-1968", "ascii", "cp1252", "cp819",
                                           "csisolatin1", "ibm819", "iso-8859-1", "iso-ir-100",
                                           "iso8859-1", "iso88591", "iso_8859-1",
                                           "iso_8859-1:1987", "l1", "latin1", "us-ascii",
                                           "windows-1252", "x-cp1252"};
    if (western.contains(label))
        return kWindows1252;
    if (!QStringDecoder(label.constData()).isValid())
        return {};
    return label;
}

// The text when `name` reads the whole body without an error. Stateful, so a sequence that a
// size cut split at the very end is left out rather than counted as an error.
std::optional<QString> decodeWith(const QByteArray &name, const QByteArray &body)
{
    if (name == kWindows1252)
        return fromWindows1252(body);
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return std::nullopt;
    QString text = decoder(body);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QByteArray headerCharset(const QByteArray &contentType)
{
    static const QRegularExpression pattern(QStringLiteral("charset\\s*=\\s*([^;\\s]+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(contentType));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

QByteArray metaCharset(const QByteArray &body)
{
    // Covers <meta charset="x"> and <meta http-equiv="Content-Type" content="text/html; charset=x">.
    static const QRegularExpression pattern(
        QStringLiteral("<meta\\b[^>]*?charset\\s*=\\s*[\"']?\\s*([A-Za-z0-9_.:\\-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(body.left(kMetaWindow)));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

struct Fetch {
    MaterialReader::PageHandler done;
    QPointer<QNetworkReply> reply;
    QPointer<QTimer> deadline;
    QByteArray body;
    QByteArray contentType;
    bool answered = false;
};

void answer(const std::shared_ptr<Fetch> &fetch, const std::optional<QString> &page)
{
    if (fetch->answered)
        return;
    fetch->answered = true;
    if (fetch->deadline)
        fetch->deadline->deleteLater();
    if (QNetworkReply *reply = fetch->reply) {
        fetch->reply = nullptr;
        QObject::disconnect(reply, nullptr, reply, nullptr); // our handlers only
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (reply->isRunning() && status.isValid() && status.toInt() >= 400) {
            // Qt has already reported the error status, and aborting on top of it only earns a
            // warning: the short error body is drained instead. One that runs long or never
            // ends is cut after all.
            auto drained = std::make_shared<qint64>(0);
            QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, drained] {
                *drained += reply->readAll().size();
                if (*drained > kErrorBodyLimit)
                    reply->abort();
            });
            QTimer::singleShot(int(MaterialReader::idleTimeout * 1000.0), reply, &QNetworkReply::abort);
            QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        } else {
            if (reply->isRunning())
                reply->abort();
            reply->deleteLater();
        }
    }
    MaterialReader::PageHandler done = std::move(fetch->done);
    fetch->done = nullptr;
    if (done)
        done(page);
}

void answerLater(MaterialReader::PageHandler done)
{
    QTimer::singleShot(0, network(), [done = std::move(done)] {
        if (done)
            done(std::nullopt);
    });
}

void readHead(const std::shared_ptr<Fetch> &fetch)
{
    QNetworkReply *reply = fetch->reply;
    if (!reply || fetch->answered)
        return;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || (status.toInt() >= 300 && status.toInt() < 400))
        return; // no head yet, or a redirect that is being followed
    if (status.toInt() > 399) {
        answer(fetch, std::nullopt);
        return;
    }
    fetch->contentType = reply->rawHeader("Content-Type");
    // Video, images, PDF and archives are no page: stop before their body is read.
    if (!MaterialReader::readableType(fetch->contentType))
        answer(fetch, std::nullopt);
}

void readBody(const std::shared_ptr<Fetch> &fetch)
{
    readHead(fetch);
    QNetworkReply *reply = fetch->reply;
    if (!reply || fetch->answered)
        return;
    fetch->body += reply->read(MaterialReader::sizeLimit - fetch->body.size());
    if (fetch->body.size() >= MaterialReader::sizeLimit)
        answer(fetch, MaterialReader::decode(fetch->body, fetch->contentType));
}

} // namespace

bool MaterialReader::readableType(const QByteArray &contentType)
{
    const QByteArray type = contentType.split(';').value(0).trimmed().toLower();
    return type.isEmpty() || type.startsWith("text/") || type == "application/xhtml+xml";
}

QString MaterialReader::decode(const QByteArray &body, const QByteArray &contentType)
{
    if (const std::optional<QStringConverter::Encoding> bom = QStringConverter::encodingForData(body)) {
        QStringDecoder decoder(*bom);
        return decoder(body);
    }
    for (const QByteArray &label : {headerCharset(contentType), metaCharset(body)}) {
        const QByteArray name = decoderName(label);
        if (name.isEmpty())
            continue;
        if (std::optional<QString> text = decodeWith(name, body))
            return *text;
        // A declaration the bytes contradict counts as none: a server's default header is often
        // wrong where the page's own <meta> is right.
    }
    if (std::optional<QString> text = decodeWith("UTF-8", body))
        return *text;
    if (std::optional<QString> text = decodeWith("GB18030", body))
        return *text;
    return fromWindows1252(body);
}

void MaterialReader::fetchPage(const QUrl &url, PageHandler done)
{
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
    if (!url.isValid() || !webScheme(url) || url.host().isEmpty()) {
        answerLater(std::move(done)); // never a request, least of all for a local file
        return;
    }

    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", userAgent);
    request.setRawHeader("Accept-Language", acceptLanguage);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(int(idleTimeout * 1000.0));

    auto fetch = std::make_shared<Fetch>();
    fetch->done = std::move(done);
    QNetworkReply *reply = network()->get(request);
    fetch->reply = reply;

    // A server that trickles a byte now and then never trips the idle limit.
    auto *deadline = new QTimer(network());
    deadline->setSingleShot(true);
    fetch->deadline = deadline;
    QObject::connect(deadline, &QTimer::timeout, deadline, [fetch] { answer(fetch, std::nullopt); });
    deadline->start(int(totalTimeout * 1000.0));

    QObject::connect(reply, &QNetworkReply::redirected, reply, [fetch](const QUrl &target) {
        if (!fetch->reply || fetch->answered)
            return;
        if (webScheme(target) && !target.host().isEmpty())
            emit fetch->reply->redirectAllowed();
        else
            answer(fetch, std::nullopt);
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [fetch] { readHead(fetch); });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [fetch] { readBody(fetch); });
    QObject::connect(reply, &QNetworkReply::finished, reply, [fetch] {
        QNetworkReply *reply = fetch->reply;
        if (!reply || fetch->answered)
            return;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (reply->error() != QNetworkReply::NoError || !status.isValid() || status.toInt() > 399) {
            answer(fetch, std::nullopt);
            return;
        }
        readBody(fetch);
        answer(fetch, decode(fetch->body, fetch->contentType));
    });
}
