#include "translation/Glossary.h"

#include <QChar>
#include <QHash>
#include <QSet>
#include <QTextBoundaryFinder>

namespace {


bool isLineBreak(QStringView c)
{
    if (c == u"\r\n")
        return true;
    if (c.size() != 1)
        return false;
    switch (c.front().unicode()) {
    case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x85: case 0x2028: case 0x2029:
        return true;
    default:
        return false;
    }
}

bool hasLetter(QStringView text)
{
    for (char32_t c : text.toUcs4())
        if (QChar::isLetter(c))
            return true;
    return false;
}

bool isHeader(const QString &first)
{
    return first.startsWith(u"英文") || first.startsWith(u"中文") || first == u"来源"
        || first.compare(u"english", Qt::CaseInsensitive) == 0
        || first.compare(u"term", Qt::CaseInsensitive) == 0 || first.startsWith(u'#');
}

// A single cell "term = 译名" (or with a colon) becomes two cells; the first
// separator that cuts the cell into exactly two pieces with a non-empty first wins.
QStringList splitSingleCell(const QString &cell)
{
    static const QString separators[] = {QStringLiteral("＝"), QStringLiteral("="),
                                         QStringLiteral("："), QStringLiteral(":")};
    for (const QString &sep : separators) {
        if (!cell.contains(sep))
            continue;
        const QStringList pieces = cell.split(sep);
        if (pieces.size() != 2 || Glossary::trimBlanks(pieces[0]).isEmpty())
            continue;
        QStringList cells;
        for (const QString &piece : pieces) {
            const QString trimmed = Glossary::trimBlanks(piece);
            if (!trimmed.isEmpty())
                cells.append(trimmed);
        }
        return cells;
    }
    return {cell};
}

QList<Glossary::Row> tabRows(const QString &text)
{
    QList<Glossary::Row> out;
    qsizetype start = 0;
    auto addLine = [&](qsizetype end) {
        Glossary::Row row;
        for (const QString &cell : text.mid(start, end - start).split(u'\t'))
            row.append(Glossary::trimBlanks(cell));
        out.append(row);
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        // Every break character ends a line on its own, so CR LF leaves an empty line.
        if (isLineBreak(QStringView(text).mid(i, 1))) {
            addLine(i);
            start = i + 1;
        }
    }
    addLine(text.size());
    return out;
}

QList<Glossary::Row> commaRows(const QString &text)
{
    const bool fullWidthSeparates = !text.contains(u',');
    const QStringList chars = Glossary::characters(text);

    QList<Glossary::Row> out;
    Glossary::Row row;
    QString cell;
    bool quoted = false;
    auto endCell = [&] {
        row.append(Glossary::trimBlanks(cell));
        cell.clear();
    };
    auto endRow = [&] {
        endCell();
        out.append(row);
        row.clear();
    };

    for (qsizetype i = 0; i < chars.size(); ++i) {
        const QString &c = chars[i];
        if (quoted) {
            if (c == u"\"") {
                if (i + 1 < chars.size() && chars[i + 1] == u"\"") {
                    cell.append(u'"');
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                cell.append(c);
            }
            continue;
        }
        if (c == u"\"" && Glossary::trimBlanks(cell).isEmpty()) {
            cell.clear();
            quoted = true;
        } else if (c == u"," || (fullWidthSeparates && c == u"，")) {
            endCell();
        } else if (isLineBreak(c)) {
            endRow();
        } else {
            cell.append(c);
        }
    }
    if (!cell.isEmpty() || !row.isEmpty())
        endRow();
    return out;
}

} // namespace

bool Glossary::isBlank(char32_t c)
{
    return c == U'\t' || QChar::category(c) == QChar::Separator_Space;
}

QString Glossary::trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin].unicode()))
        ++begin;
    while (end > begin && isBlank(text[end - 1].unicode()))
        --end;
    return text.mid(begin, end - begin).toString();
}

QStringList Glossary::characters(QStringView text)
{
    QStringList out;
    if (text.isEmpty())
        return out;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype previous = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype at = finder.position();
        out.append(text.mid(previous, at - previous).toString());
        previous = at;
    }
    return out;
}

int Glossary::length(QStringView text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

bool Glossary::isChinese(QStringView character)
{
    for (char32_t c : character.toUcs4())
        if (c >= 0x4E00 && c <= 0x9FFF)
            return true;
    return false;
}

bool Glossary::containsChinese(QStringView text)
{
    // Whole-text form of isChinese: a text contains Chinese when any scalar is in range.
    return isChinese(text);
}

QList<Glossary::Row> Glossary::rows(const QString &input)
{
    QString text = input;
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    if (text.contains(u'\t'))
        return tabRows(text);
    return commaRows(text);
}

std::optional<GlossaryEntry> Glossary::entry(const Row &row)
{
    QStringList cells;
    for (const QString &cell : row) {
        const QString trimmed = trimBlanks(cell);
        if (!trimmed.isEmpty())
            cells.append(trimmed);
    }

    QString source;
    if (cells.size() >= 2 && cells.last().startsWith(u"自动"))
        source = cells.takeLast();
    if (cells.size() == 1)
        cells = splitSingleCell(cells.front());

    if (cells.isEmpty() || isHeader(cells.front()))
        return std::nullopt;

    qsizetype englishAt = -1;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (!containsChinese(cells[i]) && hasLetter(cells[i])) {
            englishAt = i;
            break;
        }
    }
    if (englishAt < 0)
        return std::nullopt;
    const QString english = cells[englishAt];
    if (length(english) > 100)
        return std::nullopt;

    QString chinese;
    for (const QString &cell : cells) {
        if (cell != english && containsChinese(cell)) {
            chinese = cell;
            break;
        }
    }
    if (length(chinese) > 80)
        return std::nullopt;

    return GlossaryEntry(english, chinese, source);
}

QList<GlossaryEntry> Glossary::parse(const QString &text)
{
    QList<GlossaryEntry> out;
    QHash<QString, qsizetype> byTerm; // normal form of `english` -> index in out
    for (const Row &row : rows(text)) {
        std::optional<GlossaryEntry> e = entry(row);
        if (!e)
            continue;
        const QString key = normalize(e->english);
        const auto found = byTerm.constFind(key);
        if (found != byTerm.constEnd()) {
            // A later row corrects the rendering; the first spelling and id stay.
            out[*found].chinese = e->chinese;
            out[*found].source = e->source;
        } else {
            byTerm.insert(key, out.size());
            out.append(*e);
        }
    }
    return out;
}

QString Glossary::normalize(const QString &text)
{
    // Walks code points rather than running a boundary finder: this runs for every term on
    // every caption. A combining mark (or joiner) belongs to the character before it and is
    // kept or dropped with it, which is what walking whole characters gives.
    const QString lower = text.toLower();
    QString out;
    out.reserve(lower.size());
    bool previousKept = false;
    bool inCharacter = false;
    for (qsizetype i = 0; i < lower.size();) {
        char32_t c = lower[i].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < lower.size() && lower[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(lower[i].unicode(), lower[i + 1].unicode());
            width = 2;
        }
        const QChar::Category category = QChar::category(c);
        const bool extends = inCharacter
            && (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
                || category == QChar::Mark_Enclosing || c == 0x200D);
        if (extends) {
            if (previousKept)
                out.append(QStringView(lower).mid(i, width));
        } else if (QChar::isLetter(c) || QChar::isNumber(c)) {
            out.append(QStringView(lower).mid(i, width));
            previousKept = true;
        } else {
            if (previousKept)
                out.append(u' ');
            previousKept = false;
        }
        inCharacter = true;
        i += width;
    }
    return trimBlanks(out);
}

QList<GlossaryEntry> Glossary::matches(const QList<GlossaryEntry> &entries, const QString &sentence,
                                       int limit)
{
    QList<GlossaryEntry> out;
    if (limit <= 0)
        return out;
    const QString padded = u' ' + normalize(sentence) + u' ';
    const bool chineseSentence = containsChinese(sentence);

    for (const GlossaryEntry &e : entries) {
        if (trimBlanks(e.chinese).isEmpty())
            continue;
        bool hit = chineseSentence && length(e.chinese) >= 2 && sentence.contains(e.chinese);
        if (!hit) {
            for (const QString &alias : e.aliases()) {
                const QString form = normalize(alias);
                if (form.isEmpty())
                    continue;
                if (padded.contains(u' ' + form + u' ') || padded.contains(u' ' + form + QStringLiteral("s "))) {
                    hit = true;
                    break;
                }
            }
        }
        if (hit) {
            out.append(e);
            if (out.size() >= limit)
                break;
        }
    }
    return out;
}

QStringList Glossary::keyterms(const QList<GlossaryEntry> &entries, const QStringList &leading,
                               int limit)
{
    QStringList candidates = leading;
    for (const GlossaryEntry &e : entries)
        if (trimBlanks(e.chinese).isEmpty())
            candidates += e.aliases();
    for (const GlossaryEntry &e : entries)
        if (!trimBlanks(e.chinese).isEmpty())
            candidates += e.aliases();

    QStringList out;
    QSet<QString> taken;
    for (const QString &candidate : candidates) {
        const QString term = trimBlanks(candidate);
        if (out.size() >= limit || term.isEmpty() || length(term) > 20)
            continue;
        if (containsChinese(term)) {
            if (length(term) > 12)
                continue;
        } else if (term.split(u' ', Qt::SkipEmptyParts).size() > 5) {
            continue;
        }
        const QString lower = term.toLower();
        if (taken.contains(lower))
            continue;
        taken.insert(lower);
        out.append(term);
    }
    return out;
}
