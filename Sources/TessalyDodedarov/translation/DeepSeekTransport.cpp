#include "translation/DeepSeekTransport.h"

#include "common/NetworkManagers.h"
#include "common/ServiceRequest.h"
#include "platform/Keychain.h"
#include "translation/StreamLineReader.h"
#include "translation/TranslationRouting.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QTimer>

// Everything one call needs while it is in flight. The network signals are connected with
// `guard` as their context, so dropping the guard cuts them all at once; their slots hold the
// state alive until then.
struct DeepSeekTransport::CallState {
    TranslationService service = TranslationService::deepSeek;
    QByteArray body;
    QString key;
    DeltaHandler onDelta;
    FinishHandler onFinish;
    Listener listener;

    bool includeUsage = true;
    bool compat = false;
    int attempt = 0;
    int httpStatus = 0;
    bool offersTools = false;
    bool unlearnedNoUsage = false; // refused with the tool offered; learnt once a resend succeeds
    bool unlearnedCompat = false;

    QPointer<QObject> guard;
    QPointer<QNetworkReply> reply;
    QTimer *idleTimer = nullptr; // child of guard
    StreamLineReader lines;
    bool headSeen = false;
    bool produced = false;
    bool finished = false;
};

namespace {

using State = std::shared_ptr<DeepSeekTransport::CallState>;
using Outcome = DeepSeekTransport::Outcome;

const QString connectionFailed = QStringLiteral("连接失败");

QNetworkAccessManager *network()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = NetworkManagers::make();
    return manager;
}

// Cuts the current request loose: no further signal of it reaches the call.
void detach(DeepSeekTransport::CallState &state)
{
    QNetworkReply *reply = state.reply;
    state.reply = nullptr;
    if (state.guard) {
        if (reply)
            QObject::disconnect(reply, nullptr, state.guard, nullptr);
        // Later, not now: this may run inside one of the guard's own slots.
        state.guard->deleteLater();
        state.guard = nullptr;
        state.idleTimer = nullptr;
    }
    if (!reply)
        return;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (reply->isRunning() && status.isValid() && status.toInt() >= 400) {
        // Qt has already marked an error status as the reply's error; aborting on top of it is
        // refused. The short error body is left to arrive and be dropped unread.
        QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        return;
    }
    if (reply->isRunning())
        reply->abort();
    reply->deleteLater();
}

void finish(const State &state, Outcome outcome)
{
    outcome.httpStatus = state->httpStatus;
    if (state->finished)
        return;
    state->finished = true;
    detach(*state);
    outcome.produced = state->produced;
    // The caller's callbacks often hold the caller's own handle of this call: kept here, they
    // would keep the call, and all it holds, alive for as long as the handle lives.
    const DeepSeekTransport::DeltaHandler onDelta = std::exchange(state->onDelta, nullptr);
    const DeepSeekTransport::FinishHandler onFinish = std::exchange(state->onFinish, nullptr);

    switch (outcome.kind) {
    case Outcome::Kind::success:
        if (state->listener.result)
            state->listener.result(state->service, std::nullopt);
        TranslationRouting::succeeded();
        break;
    case Outcome::Kind::failure:
        if (state->listener.result)
            state->listener.result(state->service, outcome.failure.message);
        TranslationRouting::failed(state->service, outcome.failure.fatal, state->produced);
        break;
    case Outcome::Kind::networkError:
        if (state->listener.result)
            state->listener.result(state->service, connectionFailed);
        TranslationRouting::failed(state->service, false, state->produced);
        break;
    case Outcome::Kind::cancelled:
        break;
    }
    if (onFinish)
        onFinish(outcome);
}

Outcome failure(const QString &message, bool fatal)
{
    Outcome outcome;
    outcome.kind = Outcome::Kind::failure;
    outcome.failure = DeepSeek::Failure{message, fatal};
    return outcome;
}

Outcome networkError(QNetworkReply::NetworkError code, const QString &text)
{
    Outcome outcome;
    outcome.kind = Outcome::Kind::networkError;
    outcome.networkError = code;
    outcome.errorText = text;
    return outcome;
}

void send(const State &state);

// One line of the event stream. Answers false once the call has ended (the stream said it is
// done, or the caller cancelled from inside onDelta).
bool readLine(const State &state, const QString &line)
{
    if (const auto counts = DeepSeek::usage(line); counts && state->listener.usage)
        state->listener.usage(counts->prompt, counts->completion, counts->cached);
    if (state->finished)
        return false;
    const DeepSeek::Chunk chunk = DeepSeek::parse(line);
    switch (chunk.kind) {
    case DeepSeek::Chunk::Kind::text:
        state->produced = true;
        if (state->onDelta)
            state->onDelta(chunk.text);
        return !state->finished;
    case DeepSeek::Chunk::Kind::done:
        finish(state, Outcome{});
        return false;
    case DeepSeek::Chunk::Kind::skip:
        return true;
    }
    return true;
}

// The response head: 200 streams on; a 400 may teach the route a form and resend; anything
// else ends the call without reading the body.
void readHead(const State &state)
{
    if (state->headSeen || state->finished || !state->reply)
        return;
    const QVariant statusValue = state->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusValue.isValid())
        return;
    state->headSeen = true;
    const int status = statusValue.toInt();
    state->httpStatus = status;
    const QString route = DeepSeekTransport::routeKey(state->service);
    if (status == 200) {
        if (state->unlearnedNoUsage)
            DeepSeekTransport::noUsageOption.insert(route);
        if (state->unlearnedCompat)
            DeepSeekTransport::compatModels.insert(route);
        return;
    }

    if (status == 400 && state->includeUsage) {
        if (state->offersTools)
            state->unlearnedNoUsage = true;
        else
            DeepSeekTransport::noUsageOption.insert(route);
        state->includeUsage = false;
        state->attempt += 1;
        send(state);
    } else if (status == 400 && !state->compat) {
        if (state->offersTools)
            state->unlearnedCompat = true;
        else
            DeepSeekTransport::compatModels.insert(route);
        state->compat = true;
        state->attempt += 1;
        send(state);
    } else if (status == 401) {
        finish(state, failure(QStringLiteral("DeepSeek 密钥无效，请在设置里重新填写。"), true));
    } else if (status == 402) {
        finish(state, failure(QStringLiteral("DeepSeek 账户余额不足。"), true));
    } else {
        finish(state, failure(QStringLiteral("DeepSeek 返回错误（HTTP %1）。").arg(status), false));
    }
}

void readBody(const State &state)
{
    readHead(state);
    if (state->finished || !state->headSeen || !state->reply)
        return;
    state->lines.append(state->reply->readAll());
    while (const std::optional<QString> line = state->lines.next()) {
        if (!readLine(state, *line))
            return;
    }
}

void replyFinished(const State &state)
{
    if (state->finished || !state->reply)
        return;
    QNetworkReply *reply = state->reply;
    readHead(state);
    if (state->finished || state->reply != reply)
        return; // ended or resent by the head
    if (reply->error() != QNetworkReply::NoError) {
        finish(state, networkError(reply->error(), reply->errorString()));
        return;
    }
    if (!state->headSeen) {
        finish(state, failure(QStringLiteral("DeepSeek 没有返回有效响应。"), false));
        return;
    }
    readBody(state);
    if (state->finished)
        return;
    // A last line without a line end still counts.
    if (const std::optional<QString> last = state->lines.finish()) {
        if (!readLine(state, *last))
            return;
    }
    // Only the service's end marker proves the answer whole. Qt's HTTP reader can end a chunked
    // body whose connection was cut (no closing chunk) as if it had ended normally, so a stream
    // without "[DONE]" is a broken one: the text delivered stays, and the caller may ask again.
    finish(state, networkError(QNetworkReply::RemoteHostClosedError,
                               QStringLiteral("The answer stream ended before its end marker.")));
}

void send(const State &state)
{
    detach(*state);
    state->headSeen = false;
    state->httpStatus = 0;
    state->lines = StreamLineReader{};

    QNetworkRequest request = ServiceRequest::to(DeepSeekTransport::endpoint());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("Authorization", "Bearer " + state->key.toUtf8());
    // The key rides in a header; a redirect must not carry it to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    const QByteArray payload = DeepSeek::prepared(state->body, state->includeUsage, state->compat);

    if (state->listener.request)
        state->listener.request();
    if (state->finished)
        return; // the hook cancelled the call

    auto *guard = new QObject(network());
    state->guard = guard;
    QNetworkReply *reply = network()->post(request, payload);
    state->reply = reply;

    // Like an idle time-out: it starts again whenever the server sends anything.
    state->idleTimer = new QTimer(guard);
    state->idleTimer->setSingleShot(true);
    state->idleTimer->setInterval(int(DeepSeekTransport::timeoutInterval * 1000.0));
    QObject::connect(state->idleTimer, &QTimer::timeout, guard, [state] {
        finish(state, networkError(QNetworkReply::TimeoutError,
                                   QStringLiteral("The request timed out.")));
    });
    auto activity = [state] {
        if (state->idleTimer)
            state->idleTimer->start();
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, guard, [state, activity] {
        activity();
        readHead(state);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, guard, [state, activity] {
        activity();
        readBody(state);
    });
    QObject::connect(reply, &QNetworkReply::uploadProgress, guard, activity);
    QObject::connect(reply, &QNetworkReply::finished, guard, [state] { replyFinished(state); });
    state->idleTimer->start();
}

} // namespace

void DeepSeekTransport::Call::cancel() const
{
    if (!m_state || m_state->finished)
        return;
    const State state = m_state;
    state->finished = true;
    detach(*state);
    Outcome outcome;
    outcome.kind = Outcome::Kind::cancelled;
    outcome.produced = state->produced;
    // The caller learns of the end from the event loop, never from inside its own cancel().
    // Both callbacks leave the call now (a callback holding the caller's handle would keep the
    // call alive), but are destroyed only after that report: cancel() may run inside onDelta.
    QTimer::singleShot(0, network(), [outcome, onDelta = std::exchange(state->onDelta, nullptr),
                                      onFinish = std::exchange(state->onFinish, nullptr)] {
        if (onFinish)
            onFinish(outcome);
    });
}

bool DeepSeekTransport::Call::isFinished() const
{
    return !m_state || m_state->finished;
}

DeepSeekTransport::Call DeepSeekTransport::stream(const QByteArray &body, const QString &key,
                                                  DeltaHandler onDelta, FinishHandler onFinish,
                                                  Listener listener)
{
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
    auto state = std::make_shared<CallState>();
    state->service = TranslationRouting::service();
    state->body = body;
    state->offersTools =
        QJsonDocument::fromJson(body).object().contains(QStringLiteral("tools"));
    // The stored key wins over the one the caller passed.
    state->key = Keychain::get(Keychain::deepSeekAccount).value_or(key);
    state->onDelta = std::move(onDelta);
    state->onFinish = std::move(onFinish);
    state->listener = std::move(listener);
    const QString route = routeKey(state->service);
    state->includeUsage = !noUsageOption.contains(route);
    state->compat = compatModels.contains(route);
    send(state);

    Call call;
    call.m_state = state;
    return call;
}

DeepSeekTransport::Streamer DeepSeekTransport::streamer(Listener listener)
{
    return [listener = std::move(listener)](const QByteArray &body, const QString &key,
                                            DeltaHandler onDelta, FinishHandler onFinish) {
        return stream(body, key, std::move(onDelta), std::move(onFinish), listener);
    };
}

QUrl DeepSeekTransport::endpoint()
{
    QUrl url = baseAddress;
    QString path = url.path();
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/chat/completions"));
    return url;
}

QString DeepSeekTransport::routeKey(TranslationService service)
{
    return TranslationServices::toString(service) + QLatin1Char('/') + DeepSeek::model();
}
