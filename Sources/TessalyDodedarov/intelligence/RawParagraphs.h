#pragma once

#include <QStringList>

#include <optional>

// Where a paragraph of untranslated source text (the English-only display, where recognised
// pieces are appended to an open line) should break. Pure; any thread.
class RawParagraphs final {
public:
    RawParagraphs() = delete;

    // A word weighs 1, a word with Chinese characters half its length in characters.
    static double weight(const QString &token);
    // `existing`: the weight already in the open paragraph. The index of the token after which
    // the paragraph ends, or none when it goes on past these tokens.
    static std::optional<qsizetype> breakIndex(double existing, const QStringList &tokens);

    static constexpr double minWeightAtSentenceEnd = 20;
    static constexpr double maxWeight = 70;
};
