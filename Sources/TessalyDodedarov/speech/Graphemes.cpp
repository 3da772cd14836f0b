#include "speech/Graphemes.h"

#include <QTextBoundaryFinder>

namespace {

// A cluster longer than this is not a character anyone speaks; looking at a bounded window
// keeps first/last O(1) on long texts (the finder classifies every position it is given).
constexpr qsizetype window = 48;

bool isAscii(QChar c) { return c.unicode() < 0x80; }

}

QList<QStringView> Graphemes::split(QStringView text)
{
    QList<QStringView> result;
    if (text.isEmpty())
        return result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary()) {
        result.append(text.sliced(start, next - start));
        start = next;
    }
    return result;
}

qsizetype Graphemes::count(QStringView text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype n = 0;
    while (finder.toNextBoundary() > 0)
        ++n;
    return n;
}

QStringView Graphemes::first(QStringView text)
{
    if (text.isEmpty())
        return {};
    // Two ASCII code units are always two characters, except CR LF.
    if (isAscii(text[0]) && text[0] != u'\r' && (text.size() == 1 || isAscii(text[1])))
        return text.first(1);
    const QStringView part = text.first(std::min(text.size(), window));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, part);
    const qsizetype end = finder.toNextBoundary();
    return part.first(end > 0 ? end : part.size());
}

QStringView Graphemes::last(QStringView text)
{
    if (text.isEmpty())
        return {};
    const qsizetype n = text.size();
    if (isAscii(text[n - 1]) && text[n - 1] != u'\n' && (n == 1 || isAscii(text[n - 2])))
        return text.last(1);
    const QStringView part = text.last(std::min(n, window));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, part);
    finder.toEnd();
    const qsizetype start = finder.toPreviousBoundary();
    return part.sliced(start > 0 ? start : 0);
}

char32_t Graphemes::firstScalar(QStringView character)
{
    if (character.isEmpty())
        return 0;
    const char16_t head = character[0].unicode();
    if (QChar::isHighSurrogate(head) && character.size() > 1 && character[1].isLowSurrogate())
        return QChar::surrogateToUcs4(head, character[1].unicode());
    return head;
}

bool Graphemes::isLetter(QStringView character)
{
    return !character.isEmpty() && QChar::isLetter(firstScalar(character));
}

bool Graphemes::isLetterOrNumber(QStringView character)
{
    return !character.isEmpty() && QChar::isLetterOrNumber(firstScalar(character));
}

bool Graphemes::isWhitespace(QStringView character)
{
    return !character.isEmpty() && QChar::isSpace(firstScalar(character));
}
