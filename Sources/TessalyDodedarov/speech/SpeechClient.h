#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Per-word speaker identifiers of a partial transcript; an entry is absent when the service
// gave no identifier for that word.
using SpeakerList = QList<std::optional<QString>>;

// One thing the realtime recognition connection reports to the engine.
struct SpeechEvent final {
    enum class Kind {
        partial,        // text, speakers: the current unconfirmed hypothesis
        committed,      // text: a confirmed segment, trimmed and never empty
        speakersMerged, // from, to: the service decided `from` is `to`
        fatal,          // text: key, quota or terms refused; the connection is closed
        closed,         // reason: the connection ended; the connection is closed
        started,        // the service opened the recognition session
        opened,         // the upgrade completed: audio sent from now on reaches the service
    };

    Kind kind = Kind::started;
    QString text;
    std::optional<SpeakerList> speakers;
    QString from;
    QString to;
    std::optional<QString> reason;

    static SpeechEvent partial(const QString &text, std::optional<SpeakerList> speakers);
    static SpeechEvent committed(const QString &text);
    static SpeechEvent speakersMerged(const QString &from, const QString &to);
    static SpeechEvent fatal(const QString &message);
    static SpeechEvent closed(std::optional<QString> reason = std::nullopt);
    static SpeechEvent started();
    static SpeechEvent opened();
};

// The engine's view of one recognition connection. Clients are compared by identity: events
// of a connection the engine has already replaced are ignored.
class SpeechClient {
public:
    virtual ~SpeechClient();
    // 16-bit little-endian mono PCM at 16 kHz.
    virtual void send(const QByteArray &pcm) = 0;
    virtual void close() = 0;
};
