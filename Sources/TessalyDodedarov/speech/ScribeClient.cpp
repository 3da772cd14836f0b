#include "speech/ScribeClient.h"

#include "common/SerialQueue.h"
#include "speech/ScribeMessage.h"

#include <QNetworkRequest>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

ScribeClient::ScribeClient(const QString &apiKey, bool diarize, bool englishOnly,
                           const QStringList &keyterms, SerialQueue &queue, EventHandler onEvent)
    : m_onEvent(std::move(onEvent))
{
    // Everything below must run on the engine's queue, so the socket's callbacks do too.
    if (thread() != queue.thread())
        moveToThread(queue.thread());

    QNetworkRequest request(endpoint(diarize, englishOnly, keyterms));
    request.setRawHeader("xi-api-key", apiKey.toUtf8());

    QMetaObject::invokeMethod(this, [this, request] {
        if (m_finished)
            return;
        m_task = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
        m_handshakeTimer = new QTimer(this);
        m_handshakeTimer->setSingleShot(true);
        connect(m_handshakeTimer, &QTimer::timeout, this,
                [this] { fail(SpeechEvent::closed(QStringLiteral("The request timed out."))); });
        connect(m_task, &QWebSocket::connected, this, [this] {
            m_handshakeTimer->stop();
            m_open = true;
            m_onEvent(this, SpeechEvent::opened());
            const QStringList waiting = std::exchange(m_outbox, {});
            for (const QString &message : waiting) {
                if (!m_task)
                    break; // a failed write ended the connection
                m_task->sendTextMessage(message);
            }
        });
        connect(m_task, &QWebSocket::textMessageReceived, this, &ScribeClient::handleMessage);
        // Binary frames carry nothing the client understands: not connected on purpose.
        connect(m_task, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, &ScribeClient::handleSocketError);
        connect(m_task, &QWebSocket::disconnected, this, [this] {
            // A socket that failed before the upgrade can report its end before its error:
            // then the error decides. A close of an open connection carries no reason.
            if (m_task && !m_open && m_task->error() != QAbstractSocket::UnknownSocketError)
                handleSocketError();
            else
                fail(SpeechEvent::closed());
        });
        m_handshakeTimer->start(handshakeTimeoutMs);
        m_task->open(request);
    }, Qt::AutoConnection);
}

ScribeClient::~ScribeClient()
{
    close();
}

QUrl ScribeClient::endpoint(bool diarize, bool englishOnly, const QStringList &keyterms)
{
    QList<std::pair<QString, QString>> items;
    items.append({QStringLiteral("model_id"), diarize ? QStringLiteral("scribe_v3_live")
                                                      : QStringLiteral("scribe_v2_realtime")});
    items.append({QStringLiteral("audio_format"), QStringLiteral("pcm_16000")});
    items.append({QStringLiteral("commit_strategy"), QStringLiteral("vad")});
    items.append({QStringLiteral("vad_silence_threshold_secs"), QStringLiteral("0.8")});
    if (englishOnly)
        items.append({QStringLiteral("language_code"), QStringLiteral("en")});
    for (const QString &term : keyterms.mid(0, maxKeyterms))
        items.append({QStringLiteral("keyterms"), term});
    if (diarize)
        items.append({QStringLiteral("diarize"), QStringLiteral("true")});
    if (diarize && !englishOnly)
        items.append({QStringLiteral("multilang_mode"), QStringLiteral("true")});

    // Every value is fully percent-encoded, "+" and "&" included: a key term such as "C++"
    // or "R&D" must reach the service as written, not as blanks or a split item.
    QByteArray query;
    for (const auto &[key, value] : items) {
        if (!query.isEmpty())
            query += '&';
        query += key.toLatin1() + '=' + QUrl::toPercentEncoding(value);
    }
    QUrl url = baseAddress;
    url.setPath(QStringLiteral("/v1/speech-to-text/realtime"));
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    return url;
}

QByteArray ScribeClient::audioMessage(const QByteArray &pcm)
{
    // Written out rather than through a JSON document: this runs ten times a second for as
    // long as anyone speaks, and Base64 text never needs escaping.
    static constexpr char head[] = R"({"message_type":"input_audio_chunk","audio_base_64":")";
    static constexpr char tail[] = R"(","commit":false,"sample_rate":16000})";
    const QByteArray audio = pcm.toBase64();
    QByteArray message;
    message.reserve(qsizetype(sizeof head + sizeof tail) + audio.size());
    message.append(head).append(audio).append(tail);
    return message;
}

std::optional<int> ScribeClient::refusedStatus(const QString &errorText)
{
    static const QRegularExpression status(QStringLiteral("status code: (\\d{3})\\b"));
    const QRegularExpressionMatch match = status.match(errorText);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

void ScribeClient::send(const QByteArray &pcm)
{
    if (m_finished || !m_task)
        return;
    // A frame written before the upgrade completes would corrupt the handshake, so audio waits.
    // A failed send surfaces through the socket's error signal, which ends the connection.
    const QString message = QString::fromLatin1(audioMessage(pcm));
    if (m_open)
        m_task->sendTextMessage(message);
    else
        m_outbox.append(message);
}

void ScribeClient::close()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_handshakeTimer)
        m_handshakeTimer->stop();
    m_outbox.clear();
    if (m_task) {
        // Our own close reports nothing: nothing may reach fail() from here on.
        m_task->disconnect(this);
        // A closing frame belongs to an open WebSocket only. On a connection whose upgrade is
        // still running or was refused it would reach an HTTP server as garbage: drop it.
        if (m_open)
            m_task->close(QWebSocketProtocol::CloseCodeNormal);
        else
            m_task->abort();
        m_task->deleteLater();
        m_task = nullptr;
    }
}

void ScribeClient::fail(const SpeechEvent &event)
{
    if (m_finished)
        return;
    close();
    if (m_onEvent)
        m_onEvent(this, event);
}

void ScribeClient::handleSocketError()
{
    if (m_finished || !m_task)
        return;
    const QString description = m_task->errorString();
    if (const std::optional<int> status = refusedStatus(description);
        status && (*status == 401 || *status == 403)) {
        fail(SpeechEvent::fatal(QStringLiteral("ElevenLabs 拒绝了连接（HTTP %1），请检查密钥。")
                                    .arg(*status)));
        return;
    }
    fail(SpeechEvent::closed(description.isEmpty() ? std::nullopt
                                                   : std::optional<QString>(description)));
}

void ScribeClient::handleMessage(const QString &text)
{
    if (m_finished)
        return;
    const std::optional<SpeechEvent> event = ScribeMessage::read(text);
    if (!event)
        return;
    if (event->kind == SpeechEvent::Kind::fatal || event->kind == SpeechEvent::Kind::closed)
        fail(*event);
    else
        m_onEvent(this, *event);
}
