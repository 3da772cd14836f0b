#include "speech/Speakers.h"

#include "speech/Segmenter.h"

std::optional<SpeakerList> Speakers::align(const QList<QJsonObject> &words, const QString &text)
{
    const qsizetype count = Segmenter::words(text).size();
    if (count == 0 || words.isEmpty())
        return std::nullopt;

    // The service sometimes counts an audio event ("(laughs)") among the words of the text and
    // sometimes not: try with the events first, then without them.
    for (const bool countEvents : {true, false}) {
        SpeakerList speakers;
        for (const QJsonObject &item : words) {
            const QJsonValue typeValue = item.value(QStringLiteral("type"));
            const QString type = typeValue.isString() ? typeValue.toString() : QStringLiteral("word");
            if (type == QLatin1String("spacing"))
                continue;
            if (!countEvents && type == QLatin1String("audio_event"))
                continue;
            const QJsonValue id = item.value(QStringLiteral("speaker_id"));
            const std::optional<QString> speaker =
                id.isString() ? std::optional<QString>(id.toString()) : std::nullopt;
            const QJsonValue itemText = item.value(QStringLiteral("text"));
            const qsizetype itemWords =
                itemText.isString() ? Segmenter::words(itemText.toString()).size() : 0;
            for (qsizetype i = 0; i < itemWords; ++i)
                speakers.append(speaker);
        }
        if (speakers.size() == count)
            return speakers;
    }
    return std::nullopt;
}
