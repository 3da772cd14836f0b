#pragma once

#include "translation/GlossaryEntry.h"

#include <QList>
#include <QString>
#include <QStringList>

// What is known about the current meeting: its topic, a short background, the
// names that recognition tends to get wrong and the terms with their Chinese
// rendering. Extracted from the user's notes and linked pages; turned into the
// context blocks of every translation prompt and the recogniser's key terms.
struct SessionBackground final {
    QString title;
    QString summary;
    QStringList names;
    QList<GlossaryEntry> terms;

    bool operator==(const SessionBackground &) const = default;

    bool isEmpty() const;
    QString description() const;
    QString stableBlock() const;
    QString promptBlock(const QString &sentence) const;
    QString sentenceBlock(const QString &sentence) const;
    QStringList keyterms() const;
};
