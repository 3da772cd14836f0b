#pragma once

#include "intelligence/ResearchResult.h"

#include <QJsonObject>
#include <QString>

#include <optional>

// Periodic research of the meeting: the prompt that asks the model what the recent transcript
// is about, which names and terms it holds and which words were misheard, and the reader of its
// JSON answer. Pure functions; the meeting model decides when to ask and applies the result.
class Research final {
public:
    Research() = delete;

    // The two messages of one research or quick-check request.
    struct Prompt {
        QString system;
        QString user;
        bool operator==(const Prompt &) const = default;
    };

    static Prompt prompt(const QString &recent, const QString &recap, const ResearchResult &known,
                         const QString &notes, bool webSearch);
    // None when the reply holds no JSON object; a reply that yields nothing is an empty result.
    static std::optional<ResearchResult> parse(const QString &reply, const QString &recent);

    // A string field of a reply: empty unless it is a JSON string, line breaks as blanks, trimmed.
    static QString field(const QJsonObject &object, const QString &key);
    // A Chinese rendering as models write it, reduced to the rendering: what follows "/" goes,
    // and so do bracketed glosses such as "（PFA）".
    static QString cleanChinese(const QString &zh);
};
