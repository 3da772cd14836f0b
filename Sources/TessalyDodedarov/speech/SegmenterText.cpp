// The text rules of the segmenter: words, joins, sentence ends and the language hints.
#include "speech/Segmenter.h"

#include "speech/Graphemes.h"

namespace {

QSet<QString> setOf(std::initializer_list<const char16_t *> items)
{
    QSet<QString> set;
    set.reserve(qsizetype(items.size()));
    for (const char16_t *item : items)
        set.insert(QString::fromUtf16(item));
    return set;
}

// A single-scalar character equal to one of the given BMP characters.
bool isOneOf(QStringView character, std::u16string_view set)
{
    return character.size() == 1 && set.find(character[0].unicode()) != std::u16string_view::npos;
}

constexpr std::u16string_view sentenceEnders = u".?!\u3002\uFF1F\uFF01";
constexpr std::u16string_view closingMarks = u"\"'\u201D\u2019)]\uFF09\u300D\u300F";
constexpr std::u16string_view softBreaks = u",;:\u2014\uFF0C\uFF1B\uFF1A\u3001";
constexpr std::u16string_view chinesePunctuation =
    u"\uFF0C\u3002\uFF01\uFF1F\uFF1B\uFF1A\u3001\uFF08\uFF09\u300A\u300B\u300C\u300D\u300E\u300F"
    u"\u201C\u201D\u2018\u2019\u2026\u2014\u00B7";
constexpr std::u16string_view openEndingTrim = u"\u3002\u3001.,";

QStringView trimScalars(QStringView text, std::u16string_view set)
{
    while (!text.isEmpty() && set.find(text.front().unicode()) != std::u16string_view::npos)
        text = text.sliced(1);
    while (!text.isEmpty() && set.find(text.back().unicode()) != std::u16string_view::npos)
        text.chop(1);
    return text;
}

bool notLetter(QStringView character) { return !Graphemes::isLetter(character); }

// Lower case without the non-letters at either end: "Know," and "(so" compare as words.
QString bareWord(const QString &word)
{
    const QString lower = word.toLower();
    return Graphemes::trimmed(lower, notLetter).toString();
}

bool hasCharacterScalar(QStringView text)
{
    return Graphemes::anyScalar(text, [](char32_t c) { return Segmenter::isCJK(c) || Segmenter::isKana(c); });
}

bool hasLetter(QStringView text)
{
    return Graphemes::anyScalar(text, [](char32_t c) { return QChar::isLetter(c); });
}

// Character words against words with letters: the base of the Chinese and char-based tests.
bool characterWordsWin(const QStringList &words, bool (*isCharacterScalar)(char32_t))
{
    int characterWords = 0;
    int letterWords = 0;
    for (const QString &word : words) {
        if (Graphemes::anyScalar(word, isCharacterScalar))
            ++characterWords;
        else if (hasLetter(word))
            ++letterWords;
    }
    return characterWords > 0 && characterWords >= letterWords;
}

const QSet<QString> &nonEnglishLatinMarkers()
{
    static const QSet<QString> set = setOf({
        u"de", u"que", u"los", u"las", u"el", u"la", u"para", u"con", u"una", u"uno", u"muy",
        u"gracias", u"todos", u"por", u"favor", u"vengan", u"es", u"lo", u"del", u"también",
        u"pero", u"como", u"más", u"nosotros", u"aquí", u"nós", u"da", u"dos", u"das", u"não",
        u"você", u"vocês", u"obrigado", u"obrigada", u"muito", u"pelo", u"pela", u"os", u"uma",
        u"em", u"são", u"seus", u"temos", u"est", u"nous", u"vous", u"les", u"des", u"une",
        u"avec", u"pour", u"très", u"merci", u"und", u"nicht", u"ist", u"der", u"ein", u"eine",
        u"danke", u"sehr", u"che", u"grazie", u"molto", u"sono", u"il", u"gli", u"y", u"o",
        u"en", u"al", u"su", u"sus", u"le",
    });
    return set;
}

const QSet<QString> &englishMarkers()
{
    static const QSet<QString> set = setOf({
        u"the", u"and", u"of", u"to", u"is", u"are", u"was", u"were", u"that", u"this", u"it",
        u"you", u"we", u"they", u"have", u"has", u"with", u"for", u"not", u"be", u"will",
        u"would", u"what", u"which", u"so", u"but", u"on", u"at", u"from", u"our", u"your",
        u"my", u"i", u"a", u"an", u"in",
    });
    return set;
}

const std::initializer_list<const char16_t *> openEndingParticles = {
    u"が", u"けど", u"けれど", u"けれども", u"ので", u"から", u"て", u"で", u"し", u"ながら", u"たり",
};

// A piece that holds CJK or kana is taken apart character by character; letters and digits
// next to each other stay one word, punctuation sticks to the word before it.
void splitCharacterPiece(QStringView piece, QStringList &result)
{
    QString buffer;
    for (const QStringView character : Graphemes::split(piece)) {
        if (Segmenter::isCJK(character) || Segmenter::isKana(character)) {
            if (!buffer.isEmpty()) {
                result.append(buffer);
                buffer.clear();
            }
            result.append(character.toString());
        } else if (!buffer.isEmpty()) {
            buffer.append(character);
        } else if (Graphemes::isLetterOrNumber(character) && !isOneOf(character, chinesePunctuation)) {
            buffer = character.toString();
        } else if (!result.isEmpty()) {
            result.last().append(character);
        } else {
            result.append(character.toString());
        }
    }
    if (!buffer.isEmpty())
        result.append(buffer);
}

}

bool Segmenter::isCJK(char32_t c)
{
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0xF900 && c <= 0xFAFF);
}

bool Segmenter::isKana(char32_t c)
{
    return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x31F0 && c <= 0x31FF) || (c >= 0xFF66 && c <= 0xFF9D);
}

bool Segmenter::isKorean(char32_t c)
{
    return (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0x1100 && c <= 0x11FF) || (c >= 0x3130 && c <= 0x318F);
}

bool Segmenter::isCJK(QStringView character)
{
    return Graphemes::anyScalar(character, [](char32_t c) { return isCJK(c); });
}

bool Segmenter::isKana(QStringView character)
{
    return Graphemes::anyScalar(character, [](char32_t c) { return isKana(c); });
}

bool Segmenter::isSoftBreak(QStringView character) { return isOneOf(character, softBreaks); }

bool Segmenter::isChinesePunctuation(QStringView character) { return isOneOf(character, chinesePunctuation); }

const QSet<QString> &Segmenter::abbreviations()
{
    static const QSet<QString> set = setOf({
        u"mr.", u"mrs.", u"ms.", u"dr.", u"prof.", u"sr.", u"jr.", u"st.", u"vs.", u"no.",
        u"e.g.", u"i.e.", u"u.s.", u"u.k.", u"a.m.", u"p.m.", u"inc.", u"ltd.", u"co.",
    });
    return set;
}

const QSet<QString> &Segmenter::danglingWords()
{
    static const QSet<QString> set = setOf({
        u"a", u"an", u"the", u"of", u"to", u"with", u"for", u"and", u"or", u"but", u"nor", u"in",
        u"on", u"at", u"from", u"by", u"about", u"into", u"onto", u"over", u"under", u"between",
        u"around", u"through", u"that", u"which", u"who", u"whom", u"whose", u"where", u"when",
        u"if", u"because", u"than", u"as", u"is", u"are", u"was", u"were", u"be", u"been",
        u"being", u"am", u"my", u"our", u"your", u"their", u"his", u"her", u"its", u"this",
        u"these", u"those", u"very", u"so", u"some", u"any", u"more", u"most", u"less", u"not",
        u"no", u"can", u"will", u"would", u"should", u"could", u"may", u"might", u"must",
        u"shall", u"have", u"has", u"had", u"do", u"does", u"did", u"i", u"we", u"you", u"they",
        u"he", u"she", u"uh", u"um", u"er", u"ah",
    });
    return set;
}

const QSet<QString> &Segmenter::fillers()
{
    static const QSet<QString> set = setOf({
        u"uh", u"um", u"er", u"ah", u"oh", u"like", u"well", u"so", u"okay", u"right",
    });
    return set;
}

QStringList Segmenter::words(QStringView text)
{
    QStringList result;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && text[i].isSpace())
            ++i;
        const qsizetype start = i;
        while (i < n && !text[i].isSpace())
            ++i;
        if (start == i)
            break;
        const QStringView piece = text.sliced(start, i - start);
        if (hasCharacterScalar(piece))
            splitCharacterPiece(piece, result);
        else
            result.append(piece.toString());
    }
    return result;
}

QString Segmenter::join(std::span<const QString> words)
{
    // One word is its own text: shared, not copied, as a meeting keeps its units for long.
    if (words.size() == 1)
        return words.front();
    qsizetype size = 0;
    for (const QString &word : words)
        size += word.size() + 1;
    QString result;
    result.reserve(size);
    for (const QString &word : words) {
        if (!result.isEmpty() && !word.isEmpty()
            && needsSpace(Graphemes::last(result), Graphemes::first(word)))
            result.append(u' ');
        result.append(word);
    }
    return result;
}

bool Segmenter::needsSpace(QStringView left, QStringView right)
{
    for (const QStringView character : {left, right}) {
        if (Graphemes::isWhitespace(character) || isCJK(character) || isKana(character)
            || isChinesePunctuation(character))
            return false;
    }
    return true;
}

bool Segmenter::endsSentence(QStringView word)
{
    const QStringView core = trimScalars(word, closingMarks);
    if (core.isEmpty())
        return false;
    const QStringView last = Graphemes::last(core);
    if (!isOneOf(last, sentenceEnders))
        return false;
    if (last != u".")
        return true;
    if (core.endsWith(u".."))
        return false;
    if (abbreviations().contains(core.toString().toLower()))
        return false;
    // "J." and "a." are initials; "5." ends a sentence.
    if (Graphemes::count(core) == 2)
        return !Graphemes::isLetter(Graphemes::first(core));
    return true;
}

bool Segmenter::isOpenEnding(QStringView text)
{
    const QStringView rest = trimScalars(text.trimmed(), openEndingTrim);
    if (!Graphemes::anyScalar(rest, [](char32_t c) { return isKana(c); }))
        return false;
    for (const char16_t *particle : openEndingParticles) {
        if (rest.endsWith(QStringView(particle)))
            return true;
    }
    return false;
}

bool Segmenter::isDangling(QStringView text)
{
    const QStringList all = words(text);
    if (all.isEmpty() || endsSentence(all.last()))
        return false;
    return danglingWords().contains(bareWord(all.last()));
}

bool Segmenter::isVerbFinal(const QStringList &words)
{
    for (const QString &word : words) {
        if (Graphemes::anyScalar(word, [](char32_t c) { return isKana(c) || isKorean(c); }))
            return true;
    }
    return false;
}

bool Segmenter::isCharBased(const QStringList &words)
{
    return characterWordsWin(words, [](char32_t c) { return isCJK(c) || isKana(c); });
}

bool Segmenter::isChinese(const QStringList &words)
{
    return characterWordsWin(words, [](char32_t c) { return isCJK(c); });
}

bool Segmenter::looksNonEnglishLatin(const QStringList &words)
{
    int markerHits = 0;
    int englishHits = 0;
    for (const QString &word : words) {
        const QString lower = word.toLower();
        QString letters;
        for (const QStringView character : Graphemes::split(lower)) {
            if (Graphemes::isLetter(character))
                letters.append(character);
        }
        // Decomposed accents ("e" + U+0301) must still find "qué" and "très".
        if (Graphemes::anyScalar(letters, [](char32_t c) { return c >= 0x80; }))
            letters = letters.normalized(QString::NormalizationForm_C);
        if (nonEnglishLatinMarkers().contains(letters))
            ++markerHits;
        else if (englishMarkers().contains(letters))
            ++englishHits;
    }
    return markerHits >= 3 && double(englishHits) * 1.5 < double(markerHits);
}

bool Segmenter::canCutAfter(const QStringList &words, qsizetype index)
{
    if (index < 0 || index >= words.size())
        return false;
    const auto at = [&](qsizetype i) { return i >= 0 && i < words.size() ? bareWord(words.at(i)) : QString(); };
    const QString word = at(index);
    if (fillers().contains(word) || danglingWords().contains(word))
        return false;
    const QString before = at(index - 1);
    if ((word == u"know" && before == u"you") || (word == u"mean" && before == u"i"))
        return false;
    if (index + 1 < words.size() && fillers().contains(at(index + 1)))
        return false;
    if (index + 2 < words.size()) {
        const QString next = at(index + 1) + u' ' + at(index + 2);
        if (next == u"you know" || next == u"i mean")
            return false;
    }
    return true;
}
