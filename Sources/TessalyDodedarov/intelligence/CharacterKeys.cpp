#include "intelligence/CharacterKeys.h"

#include "speech/Graphemes.h"

#include <QTextBoundaryFinder>

namespace {

// Code units that are a character of their own whatever stands beside them: no combining mark,
// joiner, Hangul jamo, surrogate or carriage return (which pairs with a line feed) among them.
bool standsAlone(char16_t c)
{
    if (c < 0x300)
        return c != u'\r';
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x3000 && c <= 0x3029)
        || (c >= 0x2010 && c <= 0x2027) || (c >= 0x2030 && c <= 0x205F) || (c >= 0xFF01 && c <= 0xFF9D);
}

qsizetype width(QStringView text, qsizetype i)
{
    if (standsAlone(text[i].unicode()) && (i + 1 == text.size() || standsAlone(text[i + 1].unicode())))
        return 1;
    return std::max<qsizetype>(1, Graphemes::first(text.sliced(i)).size());
}

template <typename Visit>
void walk(QStringView text, Visit visit)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype w = width(text, i);
        visit(text.sliced(i, w));
        i += w;
    }
}

}

QList<QStringView> CharacterKeys::split(QStringView text)
{
    QList<QStringView> out;
    out.reserve(text.size());
    walk(text, [&](QStringView c) { out.append(c); });
    return out;
}

qsizetype CharacterKeys::count(QStringView text)
{
    qsizetype n = 0;
    walk(text, [&](QStringView) { ++n; });
    return n;
}

qsizetype CharacterKeys::widthAt(QStringView text, qsizetype position)
{
    if (position < 0 || position >= text.size())
        return 0;
    return width(text, position);
}

bool CharacterKeys::isBoundary(QStringView text, qsizetype position)
{
    if (position <= 0 || position >= text.size())
        return true;
    if (standsAlone(text[position - 1].unicode()) && standsAlone(text[position].unicode()))
        return true;
    // A cluster is never longer than this window in text anyone speaks.
    constexpr qsizetype window = 48;
    const qsizetype from = std::max<qsizetype>(0, position - window);
    const QStringView part = text.sliced(from, std::min(text.size(), position + window) - from);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, part);
    finder.setPosition(position - from);
    return finder.isAtBoundary();
}

char32_t CharacterKeys::key(QStringView c)
{
    if (c.size() == 1)
        return c[0].unicode();
    if (c.size() == 2 && c[0].isHighSurrogate() && c[1].isLowSurrogate())
        return QChar::surrogateToUcs4(c[0], c[1]);
    const QString cluster = c.toString();
    const auto found = m_clusters.constFind(cluster);
    if (found != m_clusters.constEnd())
        return *found;
    const char32_t next = char32_t(0x110000 + m_clusters.size());
    m_clusters.insert(cluster, next);
    return next;
}

std::u32string CharacterKeys::keys(QStringView text)
{
    std::u32string out;
    out.reserve(size_t(text.size()));
    walk(text, [&](QStringView c) { out.push_back(key(c)); });
    return out;
}
