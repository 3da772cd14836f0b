#include "intelligence/TextCut.h"

#include <QTextBoundaryFinder>

namespace {

// Code units that are a character of their own whatever stands beside them: no combining mark,
// joiner, variation selector, Hangul jamo, surrogate or carriage return (which pairs with a
// line feed). Latin and Chinese text with its punctuation is made of these only.
bool standsAlone(char16_t c)
{
    if (c < 0x300)
        return c != u'\r';
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x3000 && c <= 0x3029)
        || (c >= 0x2010 && c <= 0x2027) || (c >= 0x2030 && c <= 0x205F) || (c >= 0xFF01 && c <= 0xFF9D);
}

// Whether every code unit of the span stands alone, so that characters are code units there.
bool plain(QStringView text)
{
    for (const QChar c : text) {
        if (!standsAlone(c.unicode()))
            return false;
    }
    return true;
}

// The code-unit position after the first `count` characters, or -1 when the text is shorter.
qsizetype headEnd(QStringView text, qsizetype count)
{
    if (count <= 0)
        return 0;
    if (text.size() <= count)
        return -1; // a character is at least one code unit
    // The boundary after `count` units depends on the unit that follows it too.
    if (plain(text.first(count + 1)))
        return count;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype seen = 0;
    while (finder.toNextBoundary() >= 0) {
        if (++seen == count)
            return finder.position() >= text.size() ? -1 : finder.position();
    }
    return -1;
}

} // namespace

QString TextCut::left(QStringView text, qsizetype count)
{
    const qsizetype end = headEnd(text, count);
    return (end < 0 ? text : text.first(end)).toString();
}

QString TextCut::right(QStringView text, qsizetype count)
{
    if (count <= 0)
        return QString();
    if (text.size() <= count)
        return text.toString();
    if (plain(text.last(count + 1)))
        return text.last(count).toString();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    finder.toEnd();
    qsizetype seen = 0;
    while (finder.toPreviousBoundary() >= 0) {
        if (++seen == count)
            return text.sliced(finder.position()).toString();
    }
    return text.toString();
}

bool TextCut::longerThan(QStringView text, qsizetype count)
{
    return headEnd(text, count) >= 0;
}

qsizetype TextCut::count(QStringView text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype seen = 0;
    while (finder.toNextBoundary() >= 0)
        ++seen;
    return seen;
}
