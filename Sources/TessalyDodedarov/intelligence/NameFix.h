#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

// Repairs names that the recogniser wrote as ordinary words or near spellings ("Tarwick" for
// "Tarvick") against the names the meeting already knows: those of the user's notes, the
// aliases of their terms and the corrections research found. Pure functions, any thread; the
// meeting model runs `correctionChain` on new caption units, on lines already shown and on the
// record before proofreading. Lengths and comparisons count user-perceived characters.
class NameFix final {
public:
    NameFix() = delete;

    // The spelling that stood in the text and the spelling that replaced it. Research
    // corrections (heard, correct) have the same shape.
    struct Change {
        QString heard;
        QString correct;
        bool operator==(const Change &) const = default;
    };

    struct Result {
        QString text;
        QList<Change> changes;
        bool operator==(const Result &) const = default;
    };

    // Whether a word is an ordinary dictionary word, asked with the word as written. An empty
    // test accepts every word.
    using WordTest = std::function<bool(const QString &word)>;

    // Word endings, lower case, that make two spellings forms of one stem.
    static const QSet<QString> &endings();

    static QStringList targets(const QStringList &names);
    static bool inflection(QStringView a, QStringView b);
    static int distance(QStringView a, QStringView b);
    static bool soundsLike(QStringView word, QStringView target);
    static QString replacePhrase(const QString &text, const QString &phrase, const QString &replacement);
    static Result canonicalCase(const QString &text, const QStringList &names);
    static Result correct(const QString &text, const QStringList &targets, const WordTest &isWord);
    static bool closeEnough(const QString &heard, const QString &correct);
    static bool variant(QStringView a, QStringView b);

    // The one correction of a text: known multi-word names in their stored case, then the
    // research corrections that are close enough to a mishearing, then sound-alike words
    // against `targets`. The changes of the three steps in that order.
    static Result correctionChain(const QString &text, const QStringList &names,
                                  const QList<Change> &fixes, const QStringList &targets,
                                  const WordTest &isWord);
};
