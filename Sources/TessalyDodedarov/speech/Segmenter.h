#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <span>

// Cuts the live transcript of one speaker into translation units, and holds the one
// definition of the text rules that every other part of the program uses: what a word is,
// where a space goes between two words, what ends a sentence. The static functions are pure
// and callable from any thread. An instance belongs to the caption pipeline, which replaces
// it with a fresh one whenever it closes the open text; `at` is the caller's monotonic time
// in seconds.
class Segmenter final {
public:
    // Text rules. A "character" is a user-perceived character (grapheme cluster); a word is
    // one element of `words`.
    static QStringList words(QStringView text);
    static QString join(std::span<const QString> words);
    static QString join(const QStringList &words) { return join(std::span(words.constData(), size_t(words.size()))); }
    static bool needsSpace(QStringView left, QStringView right);
    static bool endsSentence(QStringView word);
    static bool isOpenEnding(QStringView text);
    static bool isDangling(QStringView text);
    static bool isVerbFinal(const QStringList &words);
    static bool isCharBased(const QStringList &words);
    static bool isChinese(const QStringList &words);
    static bool looksNonEnglishLatin(const QStringList &words);
    static bool canCutAfter(const QStringList &words, qsizetype index);
    // How many leading words two word lists share.
    static qsizetype commonPrefix(const QStringList &a, const QStringList &b);
    // A character (or any text) is CJK / kana when one of its scalars is.
    static bool isCJK(QStringView character);
    static bool isKana(QStringView character);
    static bool isCJK(char32_t scalar);
    static bool isKana(char32_t scalar);

    static const QSet<QString> &abbreviations();
    static const QSet<QString> &danglingWords();
    static const QSet<QString> &fillers();

    // Shorter limits for simultaneous interpreting; set once at start-up.
    static inline bool interpreterMode = false;

    // Instance side: each call returns at most one unit.
    QStringList partial(QStringView text, double at);
    QStringList committed(QStringView text, double at);
    QStringList tick(double at);
    QStringList flush();
    QStringList deliver(const QString &text, double at, bool force);

    bool verbFinal() const { return m_verbFinal; }
    int emitted() const { return m_emitted; }
    const QList<QStringList> &history() const { return m_history; }
    const QString &carry() const { return m_carry; }
    double carryStart() const { return m_carryStart; }
    double lastActivity() const { return m_lastActivity; }

private:
    static bool isKorean(char32_t scalar);
    static bool isSoftBreak(QStringView character);
    static bool isChinesePunctuation(QStringView character);

    bool fast() const { return interpreterMode && !m_verbFinal; }

    bool m_verbFinal = false;
    int m_emitted = 0;
    QList<QStringList> m_history;
    QString m_carry;
    double m_carryStart = 0;
    double m_lastActivity = 0;
};
