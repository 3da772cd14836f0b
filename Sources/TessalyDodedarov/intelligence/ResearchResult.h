#pragma once

#include "intelligence/NameFix.h"
#include "translation/GlossaryEntry.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What in-meeting research found: the field of the meeting, the names and terms it recognised
// and the words the recogniser misheard. Periodic research and the quick check of suspect words
// each return one per reply; the meeting model keeps one per meeting and folds every reply into
// it with `merge`. Its block goes into every translation and proofreading prompt.
struct ResearchResult final {
    using Fix = NameFix::Change; // heard: what the recogniser wrote; correct: what was said

    QString domain;
    QStringList names;
    QList<GlossaryEntry> terms;
    QList<Fix> fixes;

    // Fixes compare as "heard→correct"; everything else field by field, term ids included.
    bool operator==(const ResearchResult &other) const;

    bool isEmpty() const;

    // Folds a newer result in: a new domain replaces the old, names and fixes keep their
    // first spelling, a term's newest rendering wins and moves to the end; then the caps.
    void merge(const ResearchResult &other);
    // Removes the names that are only misheard spellings of what is known or corrected.
    void dropMisheardNames(const QStringList &known);
    // The meeting record's note for one research pass; none when it found nothing new.
    std::optional<QString> logText(const ResearchResult &previous, bool webSearch,
                                   const QString &label) const;
    QString summary() const;
    QString promptBlock() const;
};
