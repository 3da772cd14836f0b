#include "speech/Fillers.h"

#include "speech/Graphemes.h"

#include <QSet>
#include <QStringList>

#include <array>

namespace {

const QSet<QString> &sounds()
{
    static const QSet<QString> set{
        QStringLiteral("uh"), QStringLiteral("uhh"), QStringLiteral("um"), QStringLiteral("umm"), QStringLiteral("uhm"), QStringLiteral("erm"), QStringLiteral("er"), QStringLiteral("ah"),
        QStringLiteral("ahh"), QStringLiteral("hmm"), QStringLiteral("hm"), QStringLiteral("mm"), QStringLiteral("mmm"), QStringLiteral("mm-hmm"), QStringLiteral("mhm"), QStringLiteral("uh-huh"),
    };
    return set;
}

const QSet<QString> &noiseInterjections()
{
    static const QSet<QString> set{
        QStringLiteral("あー"), QStringLiteral("ああ"), QStringLiteral("あの"), QStringLiteral("えー"), QStringLiteral("ええ"), QStringLiteral("えっと"), QStringLiteral("うーん"),
        QStringLiteral("うん"), QStringLiteral("んー"), QStringLiteral("まあ"), QStringLiteral("嗯"), QStringLiteral("啊"), QStringLiteral("呃"), QStringLiteral("哦"), QStringLiteral("唉"),
        QStringLiteral("嗯嗯"), QStringLiteral("啊啊"), QStringLiteral("um"), QStringLiteral("uh"), QStringLiteral("hmm"), QStringLiteral("mm"),
    };
    return set;
}

// Tried in this order at each place where a phrase may start.
const std::array<QStringList, 5> &phrases()
{
    static const std::array<QStringList, 5> list{
        QStringList{QStringLiteral("like")},
        QStringList{QStringLiteral("you"), QStringLiteral("know")},
        QStringList{QStringLiteral("i"), QStringLiteral("mean")},
        QStringList{QStringLiteral("kind"), QStringLiteral("of")},
        QStringList{QStringLiteral("sort"), QStringLiteral("of")},
    };
    return list;
}

bool isPunctuation(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Punctuation_Connector:
    case QChar::Punctuation_Dash:
    case QChar::Punctuation_Open:
    case QChar::Punctuation_Close:
    case QChar::Punctuation_InitialQuote:
    case QChar::Punctuation_FinalQuote:
    case QChar::Punctuation_Other:
        return true;
    default:
        return false;
    }
}

// Scalar-wise trim from both ends.
template <typename Predicate>
QStringView trimScalars(QStringView text, Predicate drop)
{
    while (!text.isEmpty()) {
        const qsizetype width = text.size() > 1 && text[0].isHighSurrogate() && text[1].isLowSurrogate() ? 2 : 1;
        if (!drop(Graphemes::firstScalar(text.first(width))))
            break;
        text = text.sliced(width);
    }
    while (!text.isEmpty()) {
        const qsizetype n = text.size();
        const qsizetype width = n > 1 && text[n - 1].isLowSurrogate() && text[n - 2].isHighSurrogate() ? 2 : 1;
        if (!drop(Graphemes::firstScalar(text.last(width))))
            break;
        text.chop(width);
    }
    return text;
}

// "Um," → "um", "mm-hmm." → "mm-hmm", "--uh" → "uh".
QString normalized(const QString &token)
{
    const QString lower = token.toLower();
    QStringView core = trimScalars(lower, [](char32_t c) { return c != u'-' && isPunctuation(c); });
    core = trimScalars(core, [](char32_t c) { return c == u'-'; });
    return core.toString();
}

bool endsWithAny(const QString &token, QStringView characters)
{
    return !token.isEmpty() && characters.contains(token.back());
}

// Drops hesitation sounds; a sentence end or a comma that the sound carried moves onto the word
// before it, so "we agree, um." still ends the sentence and "so, um, we" loses one comma.
QStringList dropSounds(const QStringList &tokens)
{
    QStringList kept;
    for (const QString &token : tokens) {
        if (!sounds().contains(normalized(token))) {
            kept.append(token);
            continue;
        }
        if (kept.isEmpty())
            continue;
        QString &previous = kept.last();
        if (endsWithAny(token, u".?!")) {
            while (endsWithAny(previous, u",;"))
                previous.chop(1);
            if (!endsWithAny(previous, u".?!"))
                previous.append(token.back());
        } else if (token.endsWith(u',') && previous.endsWith(u',')) {
            previous.chop(1);
        }
    }
    return kept;
}

// A filler phrase is dropped only where commas set it off on both sides: "we, you know, did".
QStringList dropPhrases(const QStringList &tokens)
{
    QStringList result;
    qsizetype position = 0;
    while (position < tokens.size()) {
        bool removed = false;
        if (result.isEmpty() || result.last().endsWith(u',')) {
            for (const QStringList &phrase : phrases()) {
                if (position + phrase.size() > tokens.size())
                    continue;
                bool matches = true;
                bool innerComma = false;
                for (qsizetype k = 0; k < phrase.size() && matches; ++k) {
                    const QString &token = tokens.at(position + k);
                    matches = normalized(token) == phrase.at(k);
                    if (k + 1 < phrase.size() && token.contains(u','))
                        innerComma = true;
                }
                if (matches && tokens.at(position + phrase.size() - 1).endsWith(u',') && !innerComma) {
                    position += phrase.size();
                    removed = true;
                    break;
                }
            }
        }
        if (!removed)
            result.append(tokens.at(position++));
    }
    return result;
}

}

QString Fillers::strip(const QString &text)
{
    // Chinese text is not touched: its fillers are whole units, which isNoise catches.
    if (Graphemes::anyScalar(text, [](char32_t c) { return c >= 0x4E00 && c <= 0x9FFF; }))
        return text;

    const QStringList tokens = text.split(u' ', Qt::SkipEmptyParts);
    QString result = dropPhrases(dropSounds(tokens)).join(u' ');
    while (result.startsWith(u',') || result.startsWith(u';'))
        result = result.sliced(1).trimmed();
    if (!Graphemes::anyScalar(result, [](char32_t c) { return QChar::isLetterOrNumber(c); }))
        return {};

    // "Um, we should" → "We should": the sentence keeps its capital.
    const QStringView head = Graphemes::first(result);
    const QStringView firstLetter = [&] {
        for (const QStringView character : Graphemes::split(text)) {
            if (Graphemes::isLetter(character))
                return character;
        }
        return QStringView();
    }();
    if (QChar::isLower(Graphemes::firstScalar(head)) && !firstLetter.isEmpty()
        && QChar::isUpper(Graphemes::firstScalar(firstLetter)))
        result = head.toString().toUpper() + result.sliced(head.size());
    // A text without fillers stays the caller's text, shared rather than kept twice.
    if (result == text)
        return text;
    return result;
}

bool Fillers::isNoise(const QString &text)
{
    QString core;
    qsizetype characters = 0;
    for (const QStringView character : Graphemes::split(text)) {
        if (Graphemes::isLetterOrNumber(character)) {
            core.append(character);
            ++characters;
        }
    }
    if (characters == 0)
        return true;
    if (characters == 1)
        return !QChar::isDigit(Graphemes::firstScalar(core));
    return noiseInterjections().contains(core.toLower());
}

QString Fillers::dropStrayQuotes(const QString &text)
{
    if (text.count(u'"') % 2 == 0)
        return text;
    QString result = text;
    result.remove(u'"');
    return result.trimmed();
}
