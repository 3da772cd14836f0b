#include "captions/CaptionLayout.h"

#include "speech/Graphemes.h"

#include <algorithm>
#include <utility>

namespace {

const QString closingPunctuation = QStringLiteral("，。！？；：、）》」』”’…,!?;:)");

// A stray CR LF is one character; it breaks a row like a line feed instead of landing in one.
bool isLineFeed(QStringView character)
{
    return character == u"\n" || character == u"\r\n";
}

}

bool CaptionLayout::isClosingPunctuation(QStringView character)
{
    return character.size() == 1 && closingPunctuation.contains(character[0]);
}

bool CaptionLayout::isWordCharacter(QStringView character)
{
    if (character.size() != 1)
        return false;
    const char16_t c = character[0].unicode();
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
        || c == u'-' || c == u'\'' || c == u'.' || c == u'%' || c == u'$';
}

void CaptionLayout::feed(QStringView text)
{
    for (const QStringView character : Graphemes::split(text)) {
        if (isLineFeed(character)) {
            placePendingWord();
            if (!rows.constLast().isEmpty())
                startRow();
        } else if (isWordCharacter(character)) {
            pendingWord.append(character);
        } else {
            placePendingWord();
            place(character.toString());
        }
    }
}

void CaptionLayout::place(const QString &unit)
{
    const double width = measure(unit);
    if (!isClosingPunctuation(unit) && rowWidth + width > maxWidth && !rows.constLast().isEmpty())
        startRow();
    if (unit == u" " && rows.constLast().isEmpty())
        return;
    rows.last().append(unit);
    rowWidth += width;
}

void CaptionLayout::startRow()
{
    const qsizetype before = rows.size();
    rows.append(QString());
    rowWidth = 0;
    if (before >= keepRows) {
        const qsizetype removed = rows.size() - keepRows / 2;
        rows.remove(0, removed);
        firstRowIndex += removed;
    }
}

void CaptionLayout::separateUnits()
{
    placePendingWord();
    if (!lastCharacter)
        return;
    const QString &last = *lastCharacter;
    if (last == u" " || last == u"." || last == u"\u2014" || isClosingPunctuation(last))
        return;
    lastCharacter = QStringLiteral(" ");
    feed(u" ");
}

void CaptionLayout::relayout(double newMaxWidth, Measure newMeasure, int keepingLastRows)
{
    const qsizetype keep = std::clamp<qsizetype>(keepingLastRows, 0, rows.size());
    const QString joined = rows.sliced(rows.size() - keep).join(QString());
    const QString kept = pendingWord;
    maxWidth = newMaxWidth;
    measure = std::move(newMeasure);
    firstRowIndex += rows.size();
    rows = QStringList{QString()};
    rowWidth = 0;
    pendingWord.clear();
    feed(joined);
    placePendingWord();
    pendingWord = kept;
}

void CaptionLayout::placePendingWord()
{
    if (pendingWord.isEmpty())
        return;
    const QString word = std::exchange(pendingWord, QString());
    place(word);
}
