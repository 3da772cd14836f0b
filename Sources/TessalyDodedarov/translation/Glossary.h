#pragma once

#include "translation/GlossaryEntry.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// Text rules around term pairs: importing pasted or loaded term lists, the one
// comparison form of terms and sentences, the terms that occur in a caption
// sentence, and the key terms handed to the recogniser. Stateless; any thread.
class Glossary final {
public:
    Glossary() = delete;

    using Row = QStringList;

    static QList<GlossaryEntry> parse(const QString &text);
    static QList<Row> rows(const QString &text);
    static std::optional<GlossaryEntry> entry(const Row &row);

    static QString normalize(const QString &text);

    // `character` is one user-perceived character; it counts as Chinese when any
    // of its scalars is a CJK unified ideograph (U+4E00…U+9FFF).
    static bool isChinese(QStringView character);
    static bool containsChinese(QStringView text);

    static QList<GlossaryEntry> matches(const QList<GlossaryEntry> &entries, const QString &sentence,
                                        int limit);
    static QStringList keyterms(const QList<GlossaryEntry> &entries, const QStringList &leading,
                                int limit);

    // User-perceived characters (extended grapheme clusters), which is what every
    // length and cut of terms and captions counts.
    static QStringList characters(QStringView text);
    static int length(QStringView text);

    // Blanks are spaces and tabs, never line breaks.
    static bool isBlank(char32_t c);
    static QString trimBlanks(QStringView text);
};
