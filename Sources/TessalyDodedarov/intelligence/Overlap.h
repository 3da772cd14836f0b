#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Tests and repairs for the typical defects of live recognition and sentence-by-sentence
// translation: a unit that repeats the end of the previous one (echo), a translation that
// opens with the sentence the previous translation ended with (repeated lead), a translation
// far too short for its source (truncation), and a research correction that is only a stutter
// (disfluency). Pure functions, any thread; the meeting model, the diagnostics report and
// research call them. Counts are user-perceived characters.
class Overlap final {
public:
    Overlap() = delete;

    static bool isDisfluency(const QString &heard, const QString &correct);
    static bool looksTruncated(const QString &source, const QString &translation);
    static bool isEcho(const QString &text, const QString &previous);
    // The longest run of consecutive characters that both lists hold; one character per element.
    static int longestCommon(const QStringList &a, const QStringList &b);
    // The diagnostics report's test: the translation without a first sentence that repeats the
    // previous translation, or none.
    static std::optional<QString> dropRepeatedLead(const QString &text, const QString &previous);
    // The live test: the translation without the opening sentences that repeat the previous
    // translations, unless the source itself repeats the previous sources; none when nothing
    // is dropped.
    static std::optional<QString> dropRepeatedLeads(const QString &text, const QStringList &previous,
                                                    const QString &source,
                                                    const QStringList &previousSources);
};
