#include "intelligence/Overlap.h"

#include "intelligence/CharacterKeys.h"
#include "intelligence/LatinWords.h"
#include "speech/Segmenter.h"
#include "translation/Glossary.h"

#include <QSet>

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

using Keys = std::u32string;

// Punctuation left out of a text's core, the blank included.
const std::u32string punctuation = U"，。！？、“”：；,.!? ";
// Punctuation left out when measuring what follows a lead.
const std::u32string shortPunctuation = U"，。！？、“”";
const std::u32string sentenceEnds = U"。！？";

bool isIn(char32_t key, const std::u32string &set) { return set.find(key) != std::u32string::npos; }

Keys without(const Keys &text, const std::u32string &set)
{
    Keys out;
    out.reserve(text.size());
    for (char32_t c : text)
        if (!isIn(c, set))
            out.push_back(c);
    return out;
}

Keys core(const Keys &text) { return without(text, punctuation); }

bool isBlankKey(char32_t c) { return c == U' ' || c == U'\t'; }

int longestCommonKeys(const Keys &a, const Keys &b)
{
    if (a.empty() || b.empty())
        return 0;
    std::vector<int> previous(b.size() + 1, 0);
    std::vector<int> current(b.size() + 1, 0);
    int best = 0;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            current[j] = a[i - 1] == b[j - 1] ? previous[j - 1] + 1 : 0;
            best = std::max(best, current[j]);
        }
        std::swap(previous, current);
    }
    return best;
}

// One previous translation as the repeated-lead test compares against it: how often each
// character of its core occurs, and (built on first use) its runs of four characters. Built
// once per call, so a long line with many sentences costs linear time per sentence.
class PreviousCore {
public:
    static constexpr size_t run = 4;

    explicit PreviousCore(const Keys &core) : m_core(core)
    {
        for (char32_t c : m_core)
            ++m_counts[c];
    }

    // How many characters of `lead` pair off with characters of this core, each used once.
    int shared(const Keys &lead) const
    {
        std::unordered_map<char32_t, int> used;
        int n = 0;
        for (char32_t c : lead) {
            const auto available = m_counts.find(c);
            if (available != m_counts.end() && used[c] < available->second) {
                ++used[c];
                ++n;
            }
        }
        return n;
    }

    // Whether `lead` and this core share a run of four consecutive characters.
    bool sharesRun(const Keys &lead)
    {
        if (lead.size() < run || m_core.size() < run)
            return false;
        if (m_runs.empty()) {
            const std::u32string_view view(m_core);
            for (size_t j = 0; j + run <= view.size(); ++j)
                m_runs.insert(view.substr(j, run));
        }
        const std::u32string_view view(lead);
        for (size_t i = 0; i + run <= view.size(); ++i)
            if (m_runs.count(view.substr(i, run)))
                return true;
        return false;
    }

private:
    Keys m_core;
    std::unordered_map<char32_t, int> m_counts;
    std::unordered_set<std::u32string_view> m_runs;
};

// Keys back to text; every key came from this text's own characters.
QString textOf(const QList<QStringView> &characters, size_t from, size_t to)
{
    QString out;
    for (size_t i = from; i < to; ++i)
        out.append(characters[qsizetype(i)]);
    return out;
}

QStringList words(const QString &normalized)
{
    return normalized.isEmpty() ? QStringList() : normalized.split(u' ');
}

}

bool Overlap::isDisfluency(const QString &heard, const QString &correct)
{
    CharacterKeys keys;
    const QString hn = Glossary::normalize(heard);
    const QString cn = Glossary::normalize(correct);
    const Keys h = keys.keys(hn);
    const Keys c = keys.keys(cn);
    if (h.starts_with(c) || c.starts_with(h))
        return true;
    const QStringList hw = words(hn);
    const QStringList cw = words(cn);
    if (hw.size() == 1 && CharacterKeys::count(hw.first()) < 4)
        return true;
    if (hw.size() == cw.size())
        return false;
    const QStringList &shorter = hw.size() < cw.size() ? hw : cw;
    const QStringList &longer = hw.size() < cw.size() ? cw : hw;
    qsizetype at = 0;
    for (const QString &word : longer) {
        if (at < shorter.size() && word == shorter[at])
            ++at;
    }
    return at == shorter.size();
}

bool Overlap::looksTruncated(const QString &source, const QString &translation)
{
    const QStringList sourceWords = words(Glossary::normalize(source));
    qsizetype n = 0;
    for (qsizetype i = 0; i < sourceWords.size(); ++i)
        if (i == 0 || sourceWords[i] != sourceWords[i - 1])
            ++n;
    if (n < 8)
        return false;
    qsizetype cjk = 0;
    for (QStringView character : CharacterKeys::split(translation))
        if (Segmenter::isCJK(character))
            ++cjk;
    const qsizetype latin = LatinWords::in(translation).size();
    return double(cjk) + 1.5 * double(latin) < 0.5 * double(n);
}

bool Overlap::isEcho(const QString &text, const QString &previous)
{
    const QString t = Glossary::normalize(text);
    const QString p = Glossary::normalize(previous);
    if (words(t).size() < 3 || p.isEmpty())
        return false;
    return t == p || p.endsWith(u' ' + t);
}

int Overlap::longestCommon(const QStringList &a, const QStringList &b)
{
    CharacterKeys keys;
    Keys ka;
    Keys kb;
    for (const QString &c : a)
        ka.push_back(keys.key(c));
    for (const QString &c : b)
        kb.push_back(keys.key(c));
    return longestCommonKeys(ka, kb);
}

std::optional<QString> Overlap::dropRepeatedLead(const QString &text, const QString &previous)
{
    if (previous.isEmpty() || text.isEmpty())
        return std::nullopt;
    CharacterKeys keys;
    const QList<QStringView> characters = CharacterKeys::split(text);
    Keys all;
    all.reserve(size_t(characters.size()));
    for (QStringView c : characters)
        all.push_back(keys.key(c));
    const size_t mark = all.find_first_of(sentenceEnds);
    if (mark == Keys::npos)
        return std::nullopt;
    const Keys lead = core(all.substr(0, mark + 1));
    if (lead.size() < 5 || lead.size() > 24)
        return std::nullopt;
    size_t from = mark + 1;
    size_t to = all.size();
    while (from < to && isBlankKey(all[from]))
        ++from;
    while (to > from && isBlankKey(all[to - 1]))
        --to;
    if (without(all.substr(from, to - from), shortPunctuation).size() < 8)
        return std::nullopt;
    const int k = longestCommonKeys(lead, core(keys.keys(previous)));
    // k / |lead| >= 0.6, in whole numbers.
    if (k >= 5 && 5 * k >= 3 * int(lead.size()))
        return textOf(characters, from, to);
    return std::nullopt;
}

std::optional<QString> Overlap::dropRepeatedLeads(const QString &text, const QStringList &previous,
                                                  const QString &source,
                                                  const QStringList &previousSources)
{
    QStringList earlier;
    for (const QString &p : previous)
        if (!p.isEmpty())
            earlier.append(p);
    if (earlier.isEmpty())
        return std::nullopt;

    if (!source.isEmpty() && !previousSources.isEmpty()) {
        qsizetype cut = source.size();
        for (char16_t mark : {u'.', u'?', u'!'}) {
            const qsizetype at = source.indexOf(QChar(mark));
            if (at >= 0)
                cut = std::min(cut, at);
        }
        const QStringList opening = words(Glossary::normalize(source.first(cut)));
        if (opening.size() >= 4) {
            QSet<QString> before;
            for (const QString &p : previousSources)
                for (const QString &word : words(Glossary::normalize(p)))
                    before.insert(word);
            qsizetype repeated = 0;
            for (const QString &word : opening)
                if (before.contains(word))
                    ++repeated;
            // repeated / words >= 0.7: the speaker said it again, so the translation may too.
            if (10 * repeated >= 7 * opening.size())
                return std::nullopt;
        }
    }

    CharacterKeys keys;
    std::vector<PreviousCore> cores;
    cores.reserve(size_t(earlier.size()));
    for (const QString &p : earlier)
        cores.emplace_back(core(keys.keys(p)));
    const QList<QStringView> characters = CharacterKeys::split(text);
    Keys all;
    all.reserve(size_t(characters.size()));
    for (QStringView c : characters)
        all.push_back(keys.key(c));
    // Core characters from each position to the end, for the remainder test.
    std::vector<size_t> coreAfter(all.size() + 1, 0);
    for (size_t i = all.size(); i > 0; --i)
        coreAfter[i - 1] = coreAfter[i] + (isIn(all[i - 1], punctuation) ? 0 : 1);

    size_t start = 0;
    bool dropped = false;
    while (true) {
        const size_t mark = all.find_first_of(sentenceEnds, start);
        if (mark == Keys::npos)
            break;
        const Keys lead = core(all.substr(start, mark + 1 - start));
        if (lead.size() < 5 || coreAfter[mark + 1] < 6)
            break;
        const bool repeated = std::any_of(cores.begin(), cores.end(), [&](PreviousCore &c) {
            return 10 * c.shared(lead) >= 7 * int(lead.size()) && c.sharesRun(lead);
        });
        if (!repeated)
            break;
        start = mark + 1;
        dropped = true;
    }
    if (!dropped)
        return std::nullopt;
    size_t to = all.size();
    while (start < to && isBlankKey(all[start]))
        ++start;
    while (to > start && isBlankKey(all[to - 1]))
        --to;
    return textOf(characters, start, to);
}
