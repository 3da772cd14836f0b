#include "intelligence/NumberCheck.h"

#include "intelligence/CharacterKeys.h"
#include "speech/Graphemes.h"

#include <QHash>
#include <QSet>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

const QHash<QString, double> &englishUnits()
{
    static const QHash<QString, double> table{
        {"zero", 0}, {"one", 1}, {"two", 2}, {"three", 3}, {"four", 4}, {"five", 5}, {"six", 6},
        {"seven", 7}, {"eight", 8}, {"nine", 9}, {"ten", 10}, {"eleven", 11}, {"twelve", 12},
        {"thirteen", 13}, {"fourteen", 14}, {"fifteen", 15}, {"sixteen", 16}, {"seventeen", 17},
        {"eighteen", 18}, {"nineteen", 19}};
    return table;
}

const QHash<QString, double> &englishTens()
{
    static const QHash<QString, double> table{{"twenty", 20}, {"thirty", 30}, {"forty", 40}, {"fifty", 50},
                                              {"sixty", 60}, {"seventy", 70}, {"eighty", 80}, {"ninety", 90}};
    return table;
}

const QHash<QString, double> &englishScales()
{
    static const QHash<QString, double> table{
        {"hundred", 100}, {"thousand", 1e3}, {"million", 1e6}, {"billion", 1e9}, {"trillion", 1e12}};
    return table;
}

std::optional<double> chineseDigit(QStringView c)
{
    if (c.size() != 1)
        return std::nullopt;
    switch (c[0].unicode()) {
    case u'零': case u'〇': return 0;
    case u'一': return 1;
    case u'二': case u'两': case u'兩': return 2;
    case u'三': return 3;
    case u'四': return 4;
    case u'五': return 5;
    case u'六': return 6;
    case u'七': return 7;
    case u'八': return 8;
    case u'九': return 9;
    default: return std::nullopt;
    }
}

std::optional<double> chineseUnit(QStringView c)
{
    if (c.size() != 1)
        return std::nullopt;
    switch (c[0].unicode()) {
    case u'十': return 10;
    case u'百': return 100;
    case u'千': return 1000;
    default: return std::nullopt;
    }
}

std::optional<double> chineseBigUnit(QStringView c)
{
    if (c.size() != 1)
        return std::nullopt;
    switch (c[0].unicode()) {
    case u'万': case u'萬': return 1e4;
    case u'亿': case u'億': return 1e8;
    default: return std::nullopt;
    }
}

std::optional<double> anyUnit(QStringView c)
{
    const std::optional<double> unit = chineseUnit(c);
    return unit ? unit : chineseBigUnit(c);
}

bool isAsciiDigit(QStringView c) { return c.size() == 1 && c[0] >= u'0' && c[0] <= u'9'; }
bool isAsciiDigitUnit(QChar c) { return c >= u'0' && c <= u'9'; }

bool isUnitCharacter(QChar c)
{
    switch (c.unicode()) {
    case u'十': case u'百': case u'千': case u'万': case u'萬': case u'亿': case u'億':
        return true;
    default:
        return false;
    }
}

// A "," between digits separates thousands only before exactly three digits: "1,500" is one
// number, "1,2,3" and "1,50" are several.
bool groupsThousands(const QList<QStringView> &chars, qsizetype comma)
{
    for (qsizetype k = comma + 1; k <= comma + 3; ++k)
        if (k >= chars.size() || !isAsciiDigit(chars[k]))
            return false;
    return comma + 4 >= chars.size() || !isAsciiDigit(chars[comma + 4]);
}

// Digits followed by Chinese units are the Chinese reader's ("3万", "1.5 亿"); blanked here so
// the English reader does not read the bare digits as well. The same match as
// "[0-9][0-9.,]*\s*[十百千万萬亿億]+", found in one pass.
QString withoutChineseAmounts(const QString &text)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        if (!isAsciiDigitUnit(text[i])) {
            out.append(text[i]);
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        while (j < n && (isAsciiDigitUnit(text[j]) || text[j] == u'.' || text[j] == u','))
            ++j;
        qsizetype k = j;
        while (k < n && text[k].isSpace())
            ++k;
        qsizetype m = k;
        while (m < n && isUnitCharacter(text[m]))
            ++m;
        if (m > k) {
            out.append(u' ');
            i = m;
        } else {
            out.append(QStringView(text).sliced(i, j - i));
            i = j;
        }
    }
    return out;
}

struct Token {
    // Lower case; empty for a word that cannot be a number word or "and".
    QString text;
    // Punctuation stood between this token and the one before: a run of number words ends.
    bool afterBreak = false;
};

bool isAsciiDigitAt(QStringView text, qsizetype i)
{
    return i < text.size() && isAsciiDigitUnit(text[i]) && CharacterKeys::widthAt(text, i) == 1;
}

// Number words and "and" are 3 to 9 ASCII letters; every other word only needs to be there.
QString candidateWord(QStringView word)
{
    if (word.size() < 3 || word.size() > 9)
        return {};
    for (QChar c : word)
        if (c.unicode() >= 0x80)
            return {};
    return word.toString().toLower();
}

std::vector<Token> englishTokens(QStringView text)
{
    std::vector<Token> tokens;
    const qsizetype n = text.size();
    qsizetype start = -1; // where the current token began
    bool inside = false;  // the current token is a number
    bool pendingBreak = false;
    auto end = [&](qsizetype at) {
        if (start < 0)
            return;
        const QStringView piece = text.sliced(start, at - start);
        QString token;
        if (inside) {
            token = piece.toString();
            token.remove(u',');
        } else {
            token = candidateWord(piece);
        }
        tokens.push_back({token, pendingBreak});
        pendingBreak = false;
        start = -1;
    };
    qsizetype i = 0;
    while (i < n) {
        const qsizetype width = CharacterKeys::widthAt(text, i);
        const QStringView c = text.sliced(i, width);
        if (width == 1 && isAsciiDigitUnit(c[0])) {
            if (!inside)
                end(i);
            if (start < 0)
                start = i;
            inside = true;
        } else if (inside && width == 1 && c[0] == u'.' && isAsciiDigitAt(text, i + 1)) {
            // a decimal point
        } else if (inside && width == 1 && c[0] == u',' && isAsciiDigitAt(text, i + 1) && isAsciiDigitAt(text, i + 2)
                   && isAsciiDigitAt(text, i + 3) && !isAsciiDigitAt(text, i + 4)) {
            // A thousands separator only before exactly three digits: "1,500" is one number,
            // "1,2,3" and "1,50" are several.
        } else if (Graphemes::isLetter(c)) {
            if (inside)
                end(i);
            if (start < 0)
                start = i;
            inside = false;
        } else {
            end(i);
            inside = false;
            const char32_t scalar = Graphemes::firstScalar(c);
            if (!QChar::isSpace(scalar) && !QChar::isDigit(scalar) && c != u"-")
                pendingBreak = true;
        }
        i += width;
    }
    end(n);
    return tokens;
}

bool isUnitOrTens(const QString &word) { return englishUnits().contains(word) || englishTens().contains(word); }

bool isNumberWord(const QString &word) { return isUnitOrTens(word) || englishScales().contains(word); }

double unitOrTensValue(const QString &word)
{
    const auto unit = englishUnits().constFind(word);
    return unit != englishUnits().constEnd() ? *unit : englishTens().value(word, -1);
}

std::optional<double> readDecimal(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void record(QList<double> &values, double value)
{
    if (std::isfinite(value))
        values.append(value);
}

}

QStringList NumberCheck::missing(const QString &source, const QString &translation)
{
    const QList<double> said = englishValues(source, true) + chineseValues(source, true);
    if (said.isEmpty())
        return {};
    QList<double> written = englishValues(translation, false) + chineseValues(translation, false);
    // Sorted, so that a long line full of numbers costs n log n, not n squared.
    std::sort(written.begin(), written.end());
    QStringList out;
    QSet<QString> listed;
    for (double v : said) {
        const double bound = std::max(std::abs(v) * 1e-9, 1e-9);
        bool present = false;
        for (auto t = std::lower_bound(written.cbegin(), written.cend(), v - 2 * bound);
             t != written.cend() && *t <= v + 2 * bound && !present; ++t)
            present = std::abs(*t - v) <= bound;
        if (present)
            continue;
        const QString text = format(v);
        if (!listed.contains(text)) {
            listed.insert(text);
            out.append(text);
        }
    }
    return out;
}

QList<double> NumberCheck::englishValues(const QString &text, bool source)
{
    const std::vector<Token> tokens = englishTokens(withoutChineseAmounts(text));
    QList<double> values;
    const size_t n = tokens.size();
    size_t i = 0;
    auto continues = [&](size_t j) { return j < n && !tokens[j].afterBreak; };
    while (i < n) {
        const QString &token = tokens[i].text;
        if (!token.isEmpty() && isAsciiDigitUnit(token[0])) {
            const std::optional<double> number = readDecimal(token);
            size_t j = i + 1;
            if (number) {
                double value = *number;
                while (continues(j) && englishScales().contains(tokens[j].text))
                    value *= englishScales().value(tokens[j++].text);
                record(values, value);
            }
            i = j;
        } else if (isNumberWord(token)) {
            QStringList run{token};
            size_t j = i + 1;
            while (continues(j)) {
                if (isNumberWord(tokens[j].text)) {
                    run.append(tokens[j++].text);
                } else if (tokens[j].text == u"and" && continues(j + 1) && isUnitOrTens(tokens[j + 1].text)) {
                    ++j;
                } else {
                    break;
                }
            }
            values.append(parseEnglishWords(run, source));
            i = j;
        } else {
            ++i;
        }
    }
    return values;
}

QList<double> NumberCheck::parseEnglishWords(const QStringList &run, bool source)
{
    if (run.isEmpty())
        return {};
    if (source && run.size() == 1 && run.first() == u"one")
        return {};
    if (run.size() >= 2 && isUnitOrTens(run[0]) && isUnitOrTens(run[1]) && unitOrTensValue(run[0]) >= 10
        && unitOrTensValue(run[1]) >= 10) {
        // Years are said in two halves: "nineteen eighty four".
        double value = unitOrTensValue(run[0]) * 100 + unitOrTensValue(run[1]);
        if (run.size() >= 3 && englishTens().contains(run[1]) && englishUnits().contains(run[2])
            && englishUnits().value(run[2]) < 10)
            value += englishUnits().value(run[2]);
        return {value};
    }
    double total = 0;
    double group = 0;
    for (const QString &word : run) {
        if (isUnitOrTens(word)) {
            group += unitOrTensValue(word);
        } else if (word == u"hundred") {
            group = group == 0 ? 100 : group * 100;
        } else if (englishScales().contains(word)) {
            total += (group == 0 ? 1 : group) * englishScales().value(word);
            group = 0;
        }
    }
    return {total + group};
}

QList<double> NumberCheck::chineseValues(const QString &text, bool source)
{
    QString prepared = text;
    prepared.replace(QStringLiteral("百分之"), QStringLiteral(" "));
    prepared.replace(QStringLiteral("千分之"), QStringLiteral(" "));
    prepared.replace(u'點', u'点');
    const QList<QStringView> chars = CharacterKeys::split(prepared);
    const qsizetype n = chars.size();
    QList<double> values;
    qsizetype i = 0;
    while (i < n) {
        if (isAsciiDigit(chars[i])) {
            QString digits;
            qsizetype j = i;
            while (j < n) {
                const bool nextIsDigit = j + 1 < n && isAsciiDigit(chars[j + 1]);
                if (isAsciiDigit(chars[j])) {
                    digits.append(chars[j]);
                } else if (nextIsDigit && chars[j] == u".") {
                    digits.append(u'.');
                } else if (!(nextIsDigit && chars[j] == u"," && groupsThousands(chars, j))) {
                    break;
                }
                ++j;
            }
            // "3 万": the amount is one number whether or not a blank stands before the unit.
            qsizetype k = j;
            while (k < n && Graphemes::isWhitespace(chars[k]))
                ++k;
            if (k < n && anyUnit(chars[k])) {
                double value = readDecimal(digits).value_or(0);
                while (k < n && anyUnit(chars[k]))
                    value *= *anyUnit(chars[k++]);
                record(values, value);
                i = k;
            } else {
                i = j;
            }
            continue;
        }
        // Every Chinese numeral lies above U+3006; Latin text is passed over at once.
        const bool belowNumerals = chars[i].size() == 1 && chars[i][0].unicode() < 0x3007;
        if (belowNumerals || (!chineseDigit(chars[i]) && !anyUnit(chars[i]))) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        QString run;
        bool hasDigit = false;
        while (i < n) {
            const QStringView c = chars[i];
            if (chineseDigit(c) || anyUnit(c)) {
                hasDigit = hasDigit || chineseDigit(c).has_value();
            } else if (!(c == u"点" && !run.isEmpty() && i + 1 < n && chineseDigit(chars[i + 1]))) {
                break;
            }
            run.append(c);
            ++i;
        }
        if (!hasDigit)
            continue;
        if (source
            && ((start > 0 && chars[start - 1] == u"第")
                || run == u"一" || run == u"二" || run == u"两"))
            continue;
        if (const std::optional<double> value = parseChinese(run))
            record(values, *value);
    }
    return values;
}

std::optional<double> NumberCheck::parseChinese(QStringView run)
{
    const QList<QStringView> chars = CharacterKeys::split(run);
    const qsizetype point = chars.indexOf(QStringView(u"点"));
    if (point >= 0) {
        const std::optional<double> whole = parseChinese(run.first(chars[point].data() - run.data()));
        // The whole part is written out as a 64-bit integer; nineteen digits may not fit.
        if (!whole || *whole >= 9223372036854775808.0)
            return std::nullopt;
        QString decimal = QString::number(qint64(*whole)) + u'.';
        qsizetype k = point + 1;
        while (k < chars.size() && chineseDigit(chars[k]))
            decimal.append(QChar(char16_t(u'0' + int(*chineseDigit(chars[k++])))));
        std::optional<double> value = readDecimal(decimal);
        // "一点五亿" is 150,000,000: units after the fraction scale the whole number.
        while (value && k < chars.size() && anyUnit(chars[k]))
            *value *= *anyUnit(chars[k++]);
        if (value && !std::isfinite(*value))
            return std::nullopt;
        return value;
    }

    bool positional = false;
    for (QStringView c : chars)
        positional = positional || anyUnit(c).has_value();
    if (!positional) {
        double value = 0;
        for (QStringView c : chars) {
            const std::optional<double> d = chineseDigit(c);
            if (!d)
                return std::nullopt;
            value = value * 10 + *d;
        }
        return std::isfinite(value) ? std::optional(value) : std::nullopt;
    }

    // A big unit multiplies everything since the last larger big unit: 一万亿 is 10^12,
    // 一亿五千万 is 150,000,000.
    struct Group {
        double unit;
        double amount;
    };
    std::vector<Group> groups;
    double section = 0;
    double digit = 0;
    for (QStringView c : chars) {
        if (const std::optional<double> d = chineseDigit(c)) {
            digit = *d;
        } else if (const std::optional<double> unit = chineseUnit(c)) {
            section += (digit == 0 ? 1 : digit) * *unit;
            digit = 0;
        } else if (const std::optional<double> big = chineseBigUnit(c)) {
            double amount = section + digit;
            while (!groups.empty() && groups.back().unit <= *big) {
                amount += groups.back().amount;
                groups.pop_back();
            }
            groups.push_back({*big, (amount == 0 ? 1 : amount) * *big});
            section = 0;
            digit = 0;
        } else {
            return std::nullopt;
        }
    }
    double value = section + digit;
    for (const Group &g : groups)
        value += g.amount;
    return std::isfinite(value) ? std::optional(value) : std::nullopt;
}

QString NumberCheck::format(double value)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::abs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}
