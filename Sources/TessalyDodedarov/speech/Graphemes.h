#pragma once

#include <QList>
#include <QStringView>

// User-perceived characters (extended grapheme clusters) and Unicode scalars of a text.
// The speech text rules count, cut and compare characters; a surrogate pair or a letter with
// its combining marks must never be split, so they go through here instead of QChar.
class Graphemes final {
public:
    Graphemes() = delete;

    static QList<QStringView> split(QStringView text);
    static qsizetype count(QStringView text);
    // The first and last character; empty for an empty text.
    static QStringView first(QStringView text);
    static QStringView last(QStringView text);

    // The text without the characters at either end for which `drop` holds.
    template <typename Predicate>
    static QStringView trimmed(QStringView text, Predicate drop)
    {
        while (!text.isEmpty()) {
            const QStringView head = first(text);
            if (!drop(head))
                break;
            text = text.sliced(head.size());
        }
        while (!text.isEmpty()) {
            const QStringView tail = last(text);
            if (!drop(tail))
                break;
            text.chop(tail.size());
        }
        return text;
    }

    // Whether any Unicode scalar of the text satisfies `test`.
    template <typename Predicate>
    static bool anyScalar(QStringView text, Predicate test)
    {
        const qsizetype n = text.size();
        for (qsizetype i = 0; i < n; ++i) {
            char32_t scalar = text[i].unicode();
            if (QChar::isHighSurrogate(scalar) && i + 1 < n && text[i + 1].isLowSurrogate()) {
                scalar = QChar::surrogateToUcs4(text[i].unicode(), text[i + 1].unicode());
                ++i;
            }
            if (test(scalar))
                return true;
        }
        return false;
    }

    // The first scalar of a character; the one that carries its letter, number or space class.
    static char32_t firstScalar(QStringView character);
    static bool isLetter(QStringView character);
    static bool isLetterOrNumber(QStringView character);
    static bool isWhitespace(QStringView character);
};
