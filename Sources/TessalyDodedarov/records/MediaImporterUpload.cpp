// The request to ElevenLabs' batch recogniser: the multipart body assembled on disk, posted
// from that file, and the reply turned into its bytes or a Chinese message.
#include "records/MediaImporter.h"

#include "common/ServiceRequest.h"
#include "accounts/KeyCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringDecoder>
#include <QThreadPool>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

namespace {

const QString cannotPrepare = QStringLiteral("无法准备上传文件。");
const QString cannotRead = QStringLiteral("读不了这个文件。");
const QString emptyFile = QStringLiteral("这个文件是空的。");
const QString noConnection = QStringLiteral("连不上 ElevenLabs，请检查网络后再试。");
const QString timedOut = QStringLiteral("ElevenLabs 转写超时了，请稍后再试。");
const QString connectionLost = QStringLiteral("和 ElevenLabs 的连接断了，请再试一次。");
const QString invalidReply = QStringLiteral("ElevenLabs 没有返回有效响应。");
const QString invalidKey = QStringLiteral("ElevenLabs 密钥无效，请在设置里重新填写。");
const QString noQuota = QStringLiteral("ElevenLabs 额度不够了。");

QString uuidText()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// A header value must not end its line early or break out of its quotes.
QByteArray headerFileName(const QString &name)
{
    QString clean;
    for (const QChar c : name) {
        if (c == u'"' || c == u'\\' || c.category() == QChar::Other_Control)
            continue;
        clean.append(c);
    }
    return clean.toUtf8();
}

QByteArray partValue(const QString &value)
{
    QString clean = value;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');
    return clean.toUtf8();
}

QByteArray textPart(const QByteArray &boundary, const QByteArray &name, const QByteArray &value)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n"
        + value + "\r\n";
}

struct Assembly {
    std::optional<QString> error; // empty when the body is complete
};

// Writes the whole body file; runs on a worker thread.
Assembly assemble(const QString &audio, const QString &bodyPath, const QByteArray &boundary,
                  const QStringList &keyterms, bool englishOnly, const std::atomic_bool &cancelled)
{
    QFile body(bodyPath);
    if (!body.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {cannotPrepare};
    QByteArray head = textPart(boundary, "model_id", "scribe_v2")
        + textPart(boundary, "timestamps_granularity", "word") + textPart(boundary, "diarize", "true")
        + textPart(boundary, "tag_audio_events", "false");
    if (englishOnly)
        head += textPart(boundary, "language_code", "en");
    for (const QString &term : keyterms)
        head += textPart(boundary, "keyterms", partValue(term));
    head += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\""
        + headerFileName(QFileInfo(audio).fileName())
        + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";

    QFile source(audio);
    if (!source.open(QIODevice::ReadOnly))
        return {cannotRead};
    const qint64 size = source.size();
    if (size == 0)
        return {emptyFile};
    if (body.write(head) != head.size())
        return {cannotPrepare};

    QByteArray buffer(MediaImporter::chunkSize, Qt::Uninitialized);
    qint64 copied = 0;
    for (;;) {
        if (cancelled.load())
            return {};
        const qint64 read = MediaImporter::readChunk
            ? MediaImporter::readChunk(source, buffer.data(), buffer.size())
            : source.read(buffer.data(), buffer.size());
        if (read < 0)
            return {cannotRead};
        if (read == 0)
            break;
        if (body.write(buffer.constData(), read) != read)
            return {cannotPrepare};
        copied += read;
    }
    // A file that shrank while it was read would be sent cut short.
    if (copied != size)
        return {cannotRead};
    const QByteArray tail = "\r\n--" + boundary + "--\r\n";
    if (body.write(tail) != tail.size() || !body.flush())
        return {cannotPrepare};
    body.close();
    if (body.error() != QFileDevice::NoError)
        return {cannotPrepare};
    return {};
}

// Up to 300 bytes of an error reply as text. A cut inside the last character drops that
// character; bytes that are not UTF-8 elsewhere give nothing.
QString replyExcerpt(const QByteArray &body)
{
    QByteArray head = body.left(300);
    if (body.size() > 300) {
        qsizetype lead = head.size() - 1;
        int continuation = 0;
        while (lead >= 0 && continuation < 3 && (uchar(head.at(lead)) & 0xC0) == 0x80) {
            --lead;
            ++continuation;
        }
        if (lead >= 0) {
            const uchar first = uchar(head.at(lead));
            const int length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
            if (length > 1 && continuation + 1 < length)
                head.truncate(lead);
        }
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(head);
    if (decoder.hasError())
        return {};
    return text;
}

bool quotaExceeded(const QByteArray &body)
{
    const QJsonObject detail = QJsonDocument::fromJson(body).object().value(QLatin1String("detail")).toObject();
    const QString marker = QStringLiteral("quota_exceeded");
    return detail.value(QLatin1String("status")).toString() == marker
        || detail.value(QLatin1String("code")).toString() == marker;
}

QString statusMessage(int status, const QByteArray &body)
{
    if (quotaExceeded(body))
        return noQuota;
    if (status == 401)
        return invalidKey;
    if (status == 402)
        return noQuota;
    return QStringLiteral("ElevenLabs 转写失败（HTTP ") + QString::number(status) + QStringLiteral("）：")
        + replyExcerpt(body);
}

bool isConnectFailure(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        return true;
    default:
        return false;
    }
}

} // namespace

// One upload in flight. Main-thread fields except `cancelled`, which the copy reads.
struct MediaImporter::Upload::State {
    std::atomic_bool cancelled{false};
    MediaImporter::UploadHandler done;
    QString bodyFile;
    QPointer<QNetworkAccessManager> manager;
    QPointer<QNetworkReply> reply;
    enum class Limit { none, connect, idle, total } limit = Limit::none;

    void finish(const MediaImporter::UploadResult &result)
    {
        if (manager)
            manager->deleteLater();
        // Released before the call so nothing the handler holds outlives the upload.
        const MediaImporter::UploadHandler handler = std::move(done);
        done = nullptr;
        if (handler) {
            MediaImporter::UploadResult withBody = result;
            withBody.bodyFile = bodyFile;
            handler(withBody);
        }
    }
};

void MediaImporter::Upload::cancel() const
{
    if (!m_state)
        return;
    m_state->cancelled = true;
    if (m_state->reply)
        m_state->reply->abort(); // reports through finished, as a cancel
}

namespace {

void post(const std::shared_ptr<MediaImporter::Upload::State> &state, const QString &key,
          const QByteArray &boundary)
{
    using State = MediaImporter::Upload::State;
    auto *body = new QFile(state->bodyFile);
    if (!body->open(QIODevice::ReadOnly)) {
        delete body;
        state->finish({{}, MediaImporter::ImportError{cannotPrepare}, false, {}});
        return;
    }
    // A manager per upload: nothing of one upload (cookies, connections, cache) reaches another.
    auto *manager = new QNetworkAccessManager;
    state->manager = manager;
    QUrl url = KeyCheck::elevenLabsAddress;
    url.setPath(url.path().chopped(url.path().endsWith(u'/') ? 1 : 0) + MediaImporter::uploadPath);
    QNetworkRequest request = ServiceRequest::to(url);
    request.setRawHeader("xi-api-key", key.toUtf8());
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArray("multipart/form-data; boundary=" + boundary));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    QNetworkReply *reply = manager->post(request, body);
    body->setParent(reply);
    state->reply = reply;

    const auto limitTimer = [&](double seconds, State::Limit limit) {
        auto *timer = new QTimer(reply);
        timer->setSingleShot(true);
        timer->setInterval(std::chrono::milliseconds(qint64(seconds * 1000)));
        QObject::connect(timer, &QTimer::timeout, reply, [state, limit] {
            if (state->limit == State::Limit::none)
                state->limit = limit;
            if (state->reply)
                state->reply->abort();
        });
        timer->start();
        return timer;
    };
    QTimer *connectTimer = limitTimer(MediaImporter::connectTimeout, State::Limit::connect);
    QTimer *idleTimer = limitTimer(MediaImporter::idleTimeout, State::Limit::idle);
    limitTimer(MediaImporter::totalTimeout, State::Limit::total);

    QObject::connect(reply, &QNetworkReply::uploadProgress, reply, [connectTimer, idleTimer](qint64 sent, qint64) {
        if (sent > 0)
            connectTimer->stop();
        idleTimer->start();
    });
    const auto heard = [idleTimer] { idleTimer->start(); };
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, heard);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, heard);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, heard);

    QObject::connect(reply, &QNetworkReply::finished, reply, [state, reply] {
        reply->deleteLater();
        const QNetworkReply::NetworkError error = reply->error();
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (state->limit == State::Limit::connect) {
            state->finish({{}, MediaImporter::ImportError{noConnection}, false, {}});
        } else if (state->limit != State::Limit::none) {
            state->finish({{}, MediaImporter::ImportError{timedOut}, false, {}});
        } else if (state->cancelled) {
            state->finish({{}, std::nullopt, true, {}});
        } else if (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied) {
            // Transport failures; a reply cut short (also shorter than it declared) lands here
            // once its head has arrived.
            const bool before = !status.isValid() && isConnectFailure(error);
            state->finish({{}, MediaImporter::ImportError{before ? noConnection : connectionLost}, false, {}});
        } else if (!status.isValid()) {
            state->finish({{}, MediaImporter::ImportError{invalidReply}, false, {}});
        } else if (status.toInt() == 200) {
            state->finish({reply->readAll(), std::nullopt, false, {}});
        } else {
            state->finish({{}, MediaImporter::ImportError{statusMessage(status.toInt(), reply->readAll())}, false, {}});
        }
    });
}

} // namespace

MediaImporter::Upload MediaImporter::upload(const QString &audio, const QString &key,
                                            const QStringList &keyterms, bool englishOnly,
                                            const QString &work, UploadHandler done)
{
    auto state = std::make_shared<Upload::State>();
    state->done = std::move(done);
    state->bodyFile = QDir(work).filePath(QStringLiteral("upload-") + uuidText() + QStringLiteral(".bin"));
    const QByteArray boundary = "TessalyBoundary" + uuidText().toLatin1();
    QtConcurrent::run(&workers(), [state, audio, boundary, keyterms, englishOnly] {
        return assemble(audio, state->bodyFile, boundary, keyterms, englishOnly, state->cancelled);
    }).then(QCoreApplication::instance(), [state, key, boundary](const Assembly &assembly) {
        if (state->cancelled)
            state->finish({{}, std::nullopt, true, {}});
        else if (assembly.error)
            state->finish({{}, ImportError{*assembly.error}, false, {}});
        else
            post(state, key, boundary);
    });
    Upload handle;
    handle.m_state = state;
    return handle;
}
