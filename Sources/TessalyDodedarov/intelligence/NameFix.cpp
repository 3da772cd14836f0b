#include "intelligence/NameFix.h"

#include "intelligence/CharacterKeys.h"
#include "speech/Graphemes.h"
#include "translation/Glossary.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace {

using Keys = std::u32string;

bool isAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool isAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// An ASCII letter code unit is an ASCII letter character only when nothing combines with it.
bool asciiLetterAt(QStringView text, qsizetype i)
{
    if (!isAsciiLetter(text[i].unicode()))
        return false;
    return i + 1 >= text.size() || text[i + 1].unicode() < 0x80 || Graphemes::first(text.sliced(i)).size() == 1;
}

bool isAsciiAlnumCharacter(QStringView character)
{
    return character.size() == 1
        && (isAsciiLetter(character[0].unicode()) || isAsciiDigit(character[0].unicode()));
}

const std::unordered_set<Keys> &endingKeys()
{
    static const std::unordered_set<Keys> set = [] {
        std::unordered_set<Keys> out;
        for (const QString &ending : NameFix::endings()) {
            Keys keys;
            for (QChar c : ending)
                keys.push_back(c.unicode());
            out.insert(keys);
        }
        return out;
    }();
    return set;
}

size_t commonLead(const Keys &a, const Keys &b)
{
    const size_t n = std::min(a.size(), b.size());
    size_t p = 0;
    while (p < n && a[p] == b[p])
        ++p;
    return p;
}

bool inflectionKeys(const Keys &a, const Keys &b)
{
    const size_t p = commonLead(a, b);
    if (p < 4)
        return false;
    // No ending is longer than four characters, so only the last cuts can leave two endings.
    const size_t longest = std::max(a.size(), b.size());
    const std::unordered_set<Keys> &endings = endingKeys();
    for (size_t j = std::max<size_t>(4, longest > 4 ? longest - 4 : 0); j <= p; ++j) {
        if (endings.count(a.substr(j)) && endings.count(b.substr(j)))
            return true;
    }
    return false;
}

int distanceKeys(const Keys &a, const Keys &b)
{
    if (a.empty())
        return int(b.size());
    if (b.empty())
        return int(a.size());
    std::vector<int> previous(b.size() + 1);
    std::vector<int> current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        previous[j] = int(j);
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = int(i);
        for (size_t j = 1; j <= b.size(); ++j) {
            const int substitution = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

// Both lower-cased. The cheap tests come first: this runs for every unknown word against
// every target.
bool soundsLikeKeys(const Keys &w, const Keys &t)
{
    if (w.size() < 5 || w == t || w[0] != (t.empty() ? 0 : t[0]))
        return false;
    const size_t gap = w.size() > t.size() ? w.size() - t.size() : t.size() - w.size();
    if (gap > 2 || inflectionKeys(w, t))
        return false;
    const int d = distanceKeys(w, t);
    return d <= 1 || (d <= 2 && w.size() >= 8 && t.size() >= 8);
}

Keys lowerKeys(QStringView text, CharacterKeys &keys) { return keys.keys(text.toString().toLower()); }

bool hasUpper(QStringView text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i].unicode(), text[i + 1].unicode());
            ++i;
        }
        if (QChar::isUpper(c))
            return true;
    }
    return false;
}

// The text with every code unit (or surrogate pair) case-folded, the comparison behind Qt's
// case-insensitive search. A case-sensitive search of the folded forms finds a phrase exactly
// when the case-insensitive one does, and runs several times faster; it screens the names and
// corrections that cannot occur before the real search.
QString folded(QStringView text)
{
    QString out(text.size(), Qt::Uninitialized);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            const char32_t f = QChar::toCaseFolded(QChar::surrogateToUcs4(c, text[i + 1].unicode()));
            out[i] = QChar(QChar::highSurrogate(f));
            out[i + 1] = QChar(QChar::lowSurrogate(f));
            ++i;
        } else {
            out[i] = QChar(c).toCaseFolded();
        }
    }
    return out;
}

qsizetype blankWords(QStringView text)
{
    qsizetype n = 0;
    bool inWord = false;
    for (QChar c : text) {
        const bool blank = c == u' ' || c == u'\t';
        if (!blank && !inWord)
            ++n;
        inWord = !blank;
    }
    return n;
}

bool isTargetCharacter(QStringView character)
{
    return Graphemes::isLetter(character) || character == u"'" || character == u"-";
}

}

const QSet<QString> &NameFix::endings()
{
    static const QSet<QString> set{
        QString(), QStringLiteral("s"), QStringLiteral("es"), QStringLiteral("ed"), QStringLiteral("d"),
        QStringLiteral("ing"), QStringLiteral("ion"), QStringLiteral("ions"), QStringLiteral("al"),
        QStringLiteral("ally"), QStringLiteral("ly"), QStringLiteral("ce"), QStringLiteral("t"),
        QStringLiteral("ts"), QStringLiteral("e"), QStringLiteral("er"), QStringLiteral("ers"),
        QStringLiteral("n"), QStringLiteral("an"), QStringLiteral("ic"), QStringLiteral("ist"),
        QStringLiteral("ists"), QStringLiteral("y"), QStringLiteral("ies"), QStringLiteral("ive"),
        QStringLiteral("ives")};
    return set;
}

QStringList NameFix::targets(const QStringList &names)
{
    QStringList out;
    QSet<QString> taken;
    auto take = [&](QStringView word) {
        word = Graphemes::trimmed(word, [](QStringView c) { return c == u"'" || c == u"-"; });
        if (word.isEmpty() || CharacterKeys::count(word) < 5)
            return;
        for (QChar c : word)
            if (c.unicode() >= 0x80)
                return;
        const QString lower = word.toString().toLower();
        if (taken.contains(lower))
            return;
        taken.insert(lower);
        out.append(word.toString());
    };
    for (const QString &name : names) {
        qsizetype start = -1;
        qsizetype position = 0;
        for (QStringView character : CharacterKeys::split(name)) {
            if (isTargetCharacter(character)) {
                if (start < 0)
                    start = position;
            } else if (start >= 0) {
                take(QStringView(name).sliced(start, position - start));
                start = -1;
            }
            position += character.size();
        }
        if (start >= 0)
            take(QStringView(name).sliced(start));
    }
    return out;
}

bool NameFix::inflection(QStringView a, QStringView b)
{
    CharacterKeys keys;
    return inflectionKeys(keys.keys(a), keys.keys(b));
}

int NameFix::distance(QStringView a, QStringView b)
{
    CharacterKeys keys;
    return distanceKeys(keys.keys(a), keys.keys(b));
}

bool NameFix::soundsLike(QStringView word, QStringView target)
{
    CharacterKeys keys;
    return soundsLikeKeys(lowerKeys(word, keys), lowerKeys(target, keys));
}

QString NameFix::replacePhrase(const QString &text, const QString &phrase, const QString &replacement)
{
    if (phrase.isEmpty())
        return text;
    QString out;
    qsizetype copied = 0;
    qsizetype from = 0;
    while (true) {
        const qsizetype start = text.indexOf(phrase, from, Qt::CaseInsensitive);
        if (start < 0)
            break;
        const qsizetype end = start + phrase.size();
        const QStringView view(text);
        // An occurrence that cuts a character in two is no occurrence of the phrase's characters.
        bool whole = CharacterKeys::isBoundary(view, start) && CharacterKeys::isBoundary(view, end);
        if (whole && start > 0 && isAsciiAlnumCharacter(Graphemes::last(view.first(start))))
            whole = false;
        if (whole && end < text.size() && isAsciiAlnumCharacter(Graphemes::first(view.sliced(end))))
            whole = false;
        if (whole) {
            out.append(view.sliced(copied, start - copied));
            out.append(replacement);
            copied = end;
        }
        from = end;
    }
    if (copied == 0)
        return text;
    out.append(QStringView(text).sliced(copied));
    return out;
}

NameFix::Result NameFix::canonicalCase(const QString &text, const QStringList &names)
{
    Result result{text, {}};
    // Rewriting a name's case leaves the folded text as it was.
    const QString foldedText = folded(text);
    for (const QString &name : names) {
        if (blankWords(name) < 2 || !hasUpper(name) || !foldedText.contains(folded(name)))
            continue;
        const qsizetype at = result.text.indexOf(name, 0, Qt::CaseInsensitive);
        if (at < 0)
            continue;
        const QString heard = result.text.mid(at, name.size());
        if (heard == name)
            continue;
        QString changed = replacePhrase(result.text, name, name);
        if (changed != result.text) {
            result.text = std::move(changed);
            result.changes.append({heard, name});
        }
    }
    return result;
}

NameFix::Result NameFix::correct(const QString &text, const QStringList &targets, const WordTest &isWord)
{
    Result result{text, {}};
    if (targets.isEmpty())
        return result;
    const QStringView view(text);
    bool anyLetter = false;
    for (qsizetype i = 0; i < view.size() && !anyLetter; ++i)
        anyLetter = asciiLetterAt(view, i);
    if (!anyLetter)
        return result;

    QSet<QString> known;
    known.reserve(targets.size());
    for (const QString &target : targets)
        known.insert(target.toLower());
    // Built on the first word that needs them: most lines have none.
    CharacterKeys keys;
    std::vector<Keys> targetKeys;

    QString out;
    out.reserve(text.size());
    bool changed = false;
    qsizetype i = 0;
    const qsizetype n = view.size();
    while (i < n) {
        if (!asciiLetterAt(view, i)) {
            out.append(view[i]);
            ++i;
            continue;
        }
        qsizetype end = i + 1;
        while (end < n && asciiLetterAt(view, end))
            ++end;
        const QStringView word = view.sliced(i, end - i);
        i = end;
        if (word.size() <= 4) {
            out.append(word);
            continue;
        }
        const QString spelled = word.toString();
        const QString lower = spelled.toLower();
        // Without a word test every word counts as a dictionary word, as the hook's default has it.
        if (known.contains(lower) || !isWord || isWord(spelled)) {
            out.append(word);
            continue;
        }
        if (targetKeys.empty()) {
            targetKeys.reserve(size_t(targets.size()));
            for (const QString &target : targets)
                targetKeys.push_back(lowerKeys(target, keys));
        }
        Keys wordKeys;
        for (QChar c : lower)
            wordKeys.push_back(c.unicode());
        const QString *match = nullptr;
        bool ambiguous = false;
        for (qsizetype t = 0; t < targets.size() && !ambiguous; ++t) {
            if (!soundsLikeKeys(wordKeys, targetKeys[size_t(t)]))
                continue;
            // A name known twice (a note and a research result) is still one name.
            if (match && *match != targets[t])
                ambiguous = true;
            else
                match = &targets[t];
        }
        if (!match || ambiguous) {
            out.append(word);
            continue;
        }
        out.append(*match);
        changed = true;
        const bool recorded = std::any_of(result.changes.cbegin(), result.changes.cend(),
                                          [&](const Change &c) { return c.heard == spelled; });
        if (!recorded)
            result.changes.append({spelled, *match});
    }
    if (changed)
        result.text = out;
    return result;
}

bool NameFix::closeEnough(const QString &heard, const QString &correct)
{
    const QString h = Glossary::normalize(heard);
    const QString c = Glossary::normalize(correct);
    if (h.isEmpty() || c.isEmpty() || h == c)
        return false;
    const QStringList hw = h.split(u' ');
    const QStringList cw = c.split(u' ');
    if (hw.size() != cw.size())
        return false;
    CharacterKeys keys;
    for (qsizetype i = 0; i < hw.size(); ++i) {
        if (hw[i] == cw[i])
            continue;
        const Keys a = keys.keys(hw[i]);
        const Keys b = keys.keys(cw[i]);
        const int longer = int(std::max(a.size(), b.size()));
        // Half the longer word, rounded half away from zero.
        if (distanceKeys(a, b) > (longer + 1) / 2)
            return false;
    }
    const Keys a = keys.keys(h);
    const Keys b = keys.keys(c);
    const int longer = int(std::max(a.size(), b.size()));
    return distanceKeys(a, b) <= std::max(2, longer * 35 / 100);
}

bool NameFix::variant(QStringView a, QStringView b)
{
    CharacterKeys keys;
    const Keys la = lowerKeys(a, keys);
    const Keys lb = lowerKeys(b, keys);
    if (soundsLikeKeys(la, lb))
        return true;
    if (la == lb)
        return false;
    const size_t gap = la.size() > lb.size() ? la.size() - lb.size() : lb.size() - la.size();
    if (gap > 3 || inflectionKeys(la, lb))
        return false;
    const size_t shorter = std::min(la.size(), lb.size());
    return commonLead(la, lb) >= std::max<size_t>(6, (shorter * 3 + 3) / 4);
}

NameFix::Result NameFix::correctionChain(const QString &text, const QStringList &names,
                                         const QList<Change> &fixes, const QStringList &targets,
                                         const WordTest &isWord)
{
    Result result = canonicalCase(text, names);
    QString foldedText = folded(result.text);
    for (const Change &fix : fixes) {
        // The search is cheaper than the closeness test and usually fails.
        if (fix.heard.isEmpty() || !foldedText.contains(folded(fix.heard)))
            continue;
        if (!closeEnough(fix.heard, fix.correct))
            continue;
        QString replaced = replacePhrase(result.text, fix.heard, fix.correct);
        if (replaced != result.text) {
            result.text = std::move(replaced);
            foldedText = folded(result.text);
            result.changes.append(fix);
        }
    }
    Result corrected = correct(result.text, targets, isWord);
    result.text = std::move(corrected.text);
    result.changes.append(corrected.changes);
    return result;
}
