#include "speech/SpeechClient.h"

#include <utility>

SpeechClient::~SpeechClient() = default;

SpeechEvent SpeechEvent::partial(const QString &text, std::optional<SpeakerList> speakers)
{
    SpeechEvent e;
    e.kind = Kind::partial;
    e.text = text;
    e.speakers = std::move(speakers);
    return e;
}

SpeechEvent SpeechEvent::committed(const QString &text)
{
    SpeechEvent e;
    e.kind = Kind::committed;
    e.text = text;
    return e;
}

SpeechEvent SpeechEvent::speakersMerged(const QString &from, const QString &to)
{
    SpeechEvent e;
    e.kind = Kind::speakersMerged;
    e.from = from;
    e.to = to;
    return e;
}

SpeechEvent SpeechEvent::fatal(const QString &message)
{
    SpeechEvent e;
    e.kind = Kind::fatal;
    e.text = message;
    return e;
}

SpeechEvent SpeechEvent::closed(std::optional<QString> reason)
{
    SpeechEvent e;
    e.kind = Kind::closed;
    e.reason = std::move(reason);
    return e;
}

SpeechEvent SpeechEvent::started()
{
    return SpeechEvent{};
}

SpeechEvent SpeechEvent::opened()
{
    SpeechEvent e;
    e.kind = Kind::opened;
    return e;
}
