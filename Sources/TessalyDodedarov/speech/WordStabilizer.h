#pragma once

#include <QList>
#include <QStringList>

// Decides which words of a partial transcript are settled enough to show untranslated: a word
// is released once three successive partials agree on it, and the last `holdBack` words of a
// partial never are. Owned by the caption pipeline's pass-through road, which restarts it at
// each commit and replaces it at a language switch and at the end of speech.
class WordStabilizer final {
public:
    explicit WordStabilizer(int holdBack = 1) : m_holdBack(holdBack) {}

    // The newly settled words, or "".
    QString partial(QStringView text);
    // A committed segment ends: the next partial starts a new one.
    void restartSegment();

    int holdBack() const { return m_holdBack; }
    int emitted() const { return m_emitted; }
    const QList<QStringList> &history() const { return m_history; }

private:
    int m_holdBack;
    int m_emitted = 0;
    QList<QStringList> m_history;
};
