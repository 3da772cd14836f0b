#include "intelligence/RawParagraphs.h"

#include "intelligence/CharacterKeys.h"
#include "speech/Graphemes.h"

double RawParagraphs::weight(const QString &token)
{
    // Compatibility ideographs do not count here, unlike the segmenter's CJK test.
    const bool chinese = Graphemes::anyScalar(token, [](char32_t c) {
        return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF);
    });
    return chinese ? double(CharacterKeys::count(token)) / 2.0 : 1.0;
}

std::optional<qsizetype> RawParagraphs::breakIndex(double existing, const QStringList &tokens)
{
    double total = existing;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        total += weight(tokens[i]);
        const QStringView last = Graphemes::last(tokens[i]);
        const bool sentenceEnd = last.size() == 1 && QStringView(u".?!。？！").contains(last[0]);
        if ((sentenceEnd && total >= minWeightAtSentenceEnd) || total >= maxWeight)
            return i;
    }
    return std::nullopt;
}
