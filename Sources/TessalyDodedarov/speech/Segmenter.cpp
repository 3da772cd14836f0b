#include "speech/Segmenter.h"

#include "speech/Graphemes.h"

#include <algorithm>

namespace {

// Word counts apply to the words of a partial or of the carry; they double for text written
// in characters rather than words. Times in seconds, never doubled.
struct Limits {
    int softCutThreshold;
    int minimumSoftPiece;
    int deliveryMaximum;
    int deliveryMaximumDangling;
    double hardTimeout;
    double hardTimeoutDangling;
    double quietTimeout;
    double quietTimeoutDangling;
};

// Verb-final languages (Japanese, Korean) keep the long limits and a higher soft-cut threshold:
// their clauses only make sense once the verb has come.
constexpr Limits verbFinalLimits{40, 7, 40, 50, 8.0, 10.0, 2.5, 4.5};
constexpr Limits fastLimits{12, 5, 20, 28, 4.0, 6.0, 1.2, 2.5};
constexpr Limits normalLimits{24, 7, 40, 50, 8.0, 10.0, 2.5, 4.5};

QString slice(const QStringList &words, qsizetype from, qsizetype to)
{
    return Segmenter::join(std::span(words.constData() + from, size_t(to - from)));
}

const Limits &limitsFor(bool verbFinal, bool fast)
{
    return verbFinal ? verbFinalLimits : fast ? fastLimits : normalLimits;
}

}

QStringList Segmenter::partial(QStringView text, double at)
{
    const QStringList current = words(text);
    if (current.isEmpty())
        return {};
    m_verbFinal = isVerbFinal(current);
    m_lastActivity = at;

    // A word counts as settled only while every remembered partial agrees on it.
    qsizetype stable = current.size();
    for (const QStringList &earlier : std::as_const(m_history))
        stable = std::min(stable, commonPrefix(current, earlier));
    const bool warm = m_history.size() >= 2;
    m_history.append(current);
    if (m_history.size() == 3)
        m_history.removeFirst();
    if (!warm)
        return {};

    // The last two words of a partial are still being heard.
    const qsizetype limit = std::min(current.size() - 2, stable);
    if (m_emitted >= limit)
        return {};

    for (qsizetype i = limit - 1; i >= m_emitted; --i) {
        if (endsSentence(current.at(i))) {
            const QString piece = slice(current, m_emitted, i + 1);
            m_emitted = int(i + 1);
            return deliver(piece, at, false);
        }
    }

    // No sentence end: a long run of speech is cut at a comma-like break.
    const Limits &limits = limitsFor(m_verbFinal, fast());
    const int scale = isCharBased(current) ? 2 : 1;
    const qsizetype pending = current.size() - m_emitted;
    if (pending <= qsizetype(limits.softCutThreshold) * scale)
        return {};
    const qsizetype lowest = m_emitted + qsizetype(limits.minimumSoftPiece) * scale - 1;
    for (qsizetype i = limit - 1; i >= lowest; --i) {
        const QString &word = current.at(i);
        if (!word.isEmpty() && isSoftBreak(Graphemes::last(word)) && canCutAfter(current, i)) {
            const QString piece = slice(current, m_emitted, i + 1);
            m_emitted = int(i + 1);
            return deliver(piece, at, true);
        }
    }
    return {};
}

QStringList Segmenter::deliver(const QString &text, double at, bool force)
{
    QString combined = m_carry;
    if (!m_carry.isEmpty() && !text.isEmpty() && needsSpace(Graphemes::last(m_carry), Graphemes::first(text)))
        combined.append(u' ');
    combined.append(text);

    const QStringList all = words(combined);
    m_verbFinal = isVerbFinal(all);
    const bool complete = !all.isEmpty() && endsSentence(all.last()) && !isOpenEnding(combined);
    const Limits &limits = limitsFor(m_verbFinal, fast());
    const int maximum = (isDangling(combined) ? limits.deliveryMaximumDangling : limits.deliveryMaximum)
        * (isCharBased(all) ? 2 : 1);

    if (!force && !complete && all.size() < maximum) {
        if (m_carry.isEmpty())
            m_carryStart = at;
        m_carry = combined;
        m_lastActivity = at;
        return {};
    }
    m_carry.clear();
    return {combined};
}

QStringList Segmenter::committed(QStringView text, double at)
{
    const QStringList all = words(text);
    if (!all.isEmpty())
        m_verbFinal = isVerbFinal(all);
    // The committed text repeats the segment, whose first words were already cut off.
    const QString rest = m_emitted < all.size() ? slice(all, m_emitted, all.size()) : QString();
    m_emitted = 0;
    m_history.clear();
    if (rest.isEmpty())
        return {};
    return deliver(rest, at, false);
}

QStringList Segmenter::tick(double at)
{
    if (m_carry.isEmpty())
        return {};
    const Limits &limits = limitsFor(m_verbFinal, fast());
    const bool dangling = isDangling(m_carry);
    const double hard = dangling ? limits.hardTimeoutDangling : limits.hardTimeout;
    const double quiet = dangling ? limits.quietTimeoutDangling : limits.quietTimeout;
    if (at - m_lastActivity < quiet && at - m_carryStart < hard)
        return {};
    // One to three characters are rarely a sentence; only the hard time-out lets them go.
    const QStringList carried = words(m_carry);
    if (carried.size() <= 3 && isCharBased(carried) && at - m_carryStart < hard)
        return {};
    return flush();
}

QStringList Segmenter::flush()
{
    if (m_carry.isEmpty())
        return {};
    QStringList unit{m_carry};
    m_carry.clear();
    return unit;
}

qsizetype Segmenter::commonPrefix(const QStringList &a, const QStringList &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    qsizetype i = 0;
    while (i < n && a.at(i) == b.at(i))
        ++i;
    return i;
}
