#include "speech/ScribeMessage.h"

#include "speech/Speakers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {
const QString fatalAuth = QStringLiteral("ElevenLabs 密钥无效，请在设置里重新填写。");
const QString fatalQuota = QStringLiteral("ElevenLabs 额度已用完。");
const QString fatalTerms = QStringLiteral("需要先在 ElevenLabs 网站上接受服务条款。");

bool isIgnoredType(const QString &type)
{
    static const QStringList ignored = {
        QStringLiteral("warning"),
        QStringLiteral("insufficient_audio_activity"),
        QStringLiteral("commit_throttled"),
        QStringLiteral("diarized_transcript"),
        QStringLiteral("committed_transcript_with_timestamps"),
    };
    return ignored.contains(type);
}
}

std::optional<SpeechEvent> ScribeMessage::read(const QString &text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject message = document.object();
    const QJsonValue typeValue = message.value(QStringLiteral("message_type"));
    if (!typeValue.isString())
        return std::nullopt;
    const QString type = typeValue.toString();

    if (type == QLatin1String("session_started"))
        return SpeechEvent::started();
    if (type == QLatin1String("partial_transcript")) {
        const QString partial = message.value(QStringLiteral("text")).toString();
        std::optional<SpeakerList> speakers;
        const QJsonValue words = message.value(QStringLiteral("words"));
        if (words.isArray()) {
            // Only a list made entirely of objects counts as a word list.
            QList<QJsonObject> items;
            bool allObjects = true;
            for (const QJsonValue &item : words.toArray()) {
                if (!item.isObject()) {
                    allObjects = false;
                    break;
                }
                items.append(item.toObject());
            }
            if (allObjects)
                speakers = Speakers::align(items, partial);
        }
        return SpeechEvent::partial(partial, std::move(speakers));
    }
    if (type == QLatin1String("committed_transcript")) {
        const QString committed = message.value(QStringLiteral("text")).toString().trimmed();
        if (committed.isEmpty())
            return std::nullopt;
        return SpeechEvent::committed(committed);
    }
    if (type == QLatin1String("auth_error"))
        return SpeechEvent::fatal(fatalAuth);
    if (type == QLatin1String("quota_exceeded"))
        return SpeechEvent::fatal(fatalQuota);
    if (type == QLatin1String("unaccepted_terms"))
        return SpeechEvent::fatal(fatalTerms);
    if (type == QLatin1String("speakers_merged")) {
        const QJsonValue from = message.value(QStringLiteral("from_speaker_id"));
        const QJsonValue to = message.value(QStringLiteral("to_speaker_id"));
        if (from.isString() && to.isString())
            return SpeechEvent::speakersMerged(from.toString(), to.toString());
        return std::nullopt;
    }
    if (isIgnoredType(type))
        return std::nullopt;
    const QJsonValue error = message.value(QStringLiteral("error"));
    if (error.isString())
        return SpeechEvent::closed(type + QStringLiteral("：") + error.toString());
    return std::nullopt;
}
