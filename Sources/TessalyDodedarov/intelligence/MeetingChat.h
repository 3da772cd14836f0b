#pragma once

#include "intelligence/ChatMessage.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The pure parts of the meeting chat: the record cut to fit a request, the conversation turned
// into request messages, the system message, and the question-and-answer transcript written
// beside the meeting record. Any thread.
class MeetingChat final {
public:
    MeetingChat() = delete;

    // The record as it goes into the request: over 150000 characters, its head and tail with a
    // marker between them.
    static QString trimmed(const QString &text);
    // The last 12 usable entries of the history as "user"/"assistant" messages, then the question.
    static QList<QJsonObject> messages(const QList<ChatMessage> &history, const QString &question);
    // The system message of one question. `record` is the meeting record text, cut here.
    static QString systemMessage(bool webSearch, const QString &topic, const QString &recap,
                                 const QString &record);
    // The transcript of the completed entries; none when no entry is completed.
    static std::optional<QString> transcript(const QList<ChatMessage> &messages,
                                             const QString &recordFileName);
};
