#pragma once

#include "translation/DeepSeek.h"
#include "translation/TranslationRouting.h"
#include "translation/TranslationService.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// The one road of every language-model call: one streaming POST to the chat-completions
// endpoint, the answer handed on piece by piece as its server-sent events arrive, HTTP failures
// turned into DeepSeek::Failure values, and per route the optional parameters the server refused
// remembered so later calls go out in the accepted form. Static members only; main thread only.
// What a caller hears about its calls besides their text (requests, usage, outcomes) goes to the
// listener it hands to each call, never to a hook of the process.
class DeepSeekTransport final {
public:
    DeepSeekTransport() = delete;

    using DeltaHandler = std::function<void(const QString &)>;

    using Listener = TranslationRouting::Listener;

    // How one call ended. A cancelled call is not a failure: it is never reported to the
    // listener's `result` nor counted by the router.
    struct Outcome {
        enum class Kind { success, failure, networkError, cancelled };
        Kind kind = Kind::success;
        DeepSeek::Failure failure;                                         // Kind::failure
        QNetworkReply::NetworkError networkError = QNetworkReply::NoError; // Kind::networkError
        QString errorText; // Kind::networkError: the network stack's own description
        bool produced = false; // some text reached onDelta; it stays delivered
        int httpStatus = 0; // the status of the last response head; 0 when none came

        bool ok() const { return kind == Kind::success; }
    };
    using FinishHandler = std::function<void(const Outcome &)>;

    struct CallState;

    // The caller's hold on a call in flight. Copies share the call; dropping every copy does not
    // cancel it.
    class Call {
    public:
        Call() = default;
        // Ends the call at once; the finish handler then receives Kind::cancelled (from the event
        // loop, never from inside this function), and no further delta arrives.
        void cancel() const;
        bool isFinished() const;

    private:
        friend class DeepSeekTransport;
        std::shared_ptr<CallState> m_state;
    };

    // Sends `body` (from a DeepSeek builder) with the stored DeepSeek key, or `key` when the
    // keychain holds none. onDelta receives each non-empty piece of answer text in stream order;
    // onFinish is called exactly once. Both run on the calling (main) thread, as do the
    // listener's hooks for this call.
    static Call stream(const QByteArray &body, const QString &key, DeltaHandler onDelta,
                       FinishHandler onFinish, Listener listener = {});

    // stream() with the caller's listener bound, for one that takes a plain stream function.
    using Streamer = std::function<Call(const QByteArray &body, const QString &key,
                                        DeltaHandler onDelta, FinishHandler onFinish)>;
    static Streamer streamer(Listener listener);

    // Route keys whose server refused "stream_options", and those that need the compatible
    // parameter set. They only grow, for the life of the process: they describe the server,
    // which every caller shares, so what one caller's call learnt spares the others a refusal. A body offering "tools" is
    // resent in those forms too, but teaches the route only when a resent form is accepted: the
    // 400 may have refused the tool, not the parameters.
    static inline QSet<QString> noUsageOption;
    static inline QSet<QString> compatModels;

    // The service's address; requests go to "/chat/completions" on it. Process-wide: there is
    // one service for every caller. Tests point it at a loopback fake.
    static inline QUrl baseAddress{QStringLiteral("https://api.deepseek.com")};
    // Seconds without any byte from the server before a request fails; one for every caller,
    // as it measures the service, not the call.
    static inline double timeoutInterval = 20.0;

    static QUrl endpoint();
    static QString routeKey(TranslationService service);
};
