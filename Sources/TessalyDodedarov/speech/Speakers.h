#pragma once

#include "speech/SpeechClient.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// Spreads the service's per-item speaker identifiers over the words of a partial transcript,
// so each word the segmenter sees carries the speaker who said it.
struct Speakers final {
    // One entry per word of `text`, or nothing when the items cannot be matched to its words.
    static std::optional<SpeakerList> align(const QList<QJsonObject> &words, const QString &text);
};

// The engine's speaker bookkeeping for its connections: which identifiers the service merged
// into which, and the number of the current connection (labels of different connections never
// match, because the service numbers speakers afresh on each one).
struct SpeakerNames final {
    QHash<QString, QString> merged;
    int connection = 0;
};
