#include "intelligence/TextCut.h"

#include <QTextBoundaryFinder>

namespace {

// The code-unit position after the first `count` characters, or -1 when the text is shorter.
qsizetype headEnd(QStringView text, qsizetype count)
{
    if (count <= 0)
        return 0;
    if (text.size() <= count)
        return -1; // a character is at least one code unit
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
