#include "speech/WordStabilizer.h"

#include "speech/Segmenter.h"

#include <algorithm>

QString WordStabilizer::partial(QStringView text)
{
    const QStringList words = Segmenter::words(text);
    if (words.isEmpty())
        return {};
    qsizetype stable = words.size();
    for (const QStringList &earlier : std::as_const(m_history))
        stable = std::min(stable, Segmenter::commonPrefix(words, earlier));
    const bool warm = m_history.size() >= 2;
    m_history.append(words);
    if (m_history.size() == 3)
        m_history.removeFirst();
    if (!warm)
        return {};

    const qsizetype end = std::min(words.size() - m_holdBack, stable);
    if (m_emitted >= end)
        return {};
    const QString released = Segmenter::join(std::span(words.constData() + m_emitted, size_t(end - m_emitted)));
    m_emitted = int(end);
    return released;
}

void WordStabilizer::restartSegment()
{
    m_emitted = 0;
    m_history.clear();
}
