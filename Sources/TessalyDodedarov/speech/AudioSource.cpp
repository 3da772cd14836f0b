#include "speech/AudioSource.h"

std::optional<AudioSource> audioSourceFromString(const QString &rawValue)
{
    for (AudioSource source : allAudioSources) {
        if (audioSourceToString(source) == rawValue)
            return source;
    }
    return std::nullopt;
}

QString audioSourceToString(AudioSource source)
{
    switch (source) {
    case AudioSource::system:
        return QStringLiteral("system");
    case AudioSource::microphone:
        return QStringLiteral("microphone");
    case AudioSource::both:
        return QStringLiteral("both");
    }
    return QStringLiteral("system");
}
