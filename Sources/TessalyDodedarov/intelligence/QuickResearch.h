#pragma once

#include "intelligence/Research.h"
#include "intelligence/ResearchResult.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The quick check of suspect words: capitalised words of an English caption unit that are
// neither known nor in the dictionary are asked about in small batches, each with its sentence,
// so a misheard name is caught within seconds instead of at the next research pass. Pure
// functions; the meeting model keeps the queue, the timing and the request.
class QuickResearch final {
public:
    QuickResearch() = delete;

    struct Suspect {
        QString term;
        QString sentence;
        bool operator==(const Suspect &) const = default;
    };

    // `known` and `asked` hold lower-case words; `isWord` is the dictionary test.
    static QStringList suspects(const QString &text, const QSet<QString> &known,
                                const QSet<QString> &asked,
                                const std::function<bool(const QString &)> &isWord);
    static Research::Prompt prompt(const QList<Suspect> &batch, const QString &domain,
                                   const QStringList &names, const QString &notes, bool webSearch);
    // None when the reply holds no usable "items" array; the result's domain stays empty.
    static std::optional<ResearchResult> parse(const QString &reply, const QString &context);
};
