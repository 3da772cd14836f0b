#pragma once

#include "records/DiagnosticLog.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <utility>

// The diagnostics written after a meeting: rules that pick suspicious points
// out of the caption lines and the event log, the Markdown report, the small
// JSON summary of one meeting and the overview across meetings. Pure functions
// on values; the meeting model gathers the input on the main thread.
class Diagnostics final {
public:
    Diagnostics() = delete;

    // One caption line as the rules see it.
    struct Line {
        QString time; // "HH:mm:ss"
        QString source;
        QString translation;
        QString language; // "en", "zh" or "other"
        std::optional<double> latency; // seconds to the first shown translation
        bool sourceFixed = false;
        bool translationFixed = false;
        QString proofreadNote;
        QStringList fixedWords;

        bool operator==(const Line &) const = default;
    };

    // One suspicious point in one of the twelve categories.
    struct Finding {
        QString category;
        QString time; // "HH:mm:ss", "+m:ss" since the start, or empty
        QString detail;

        bool operator==(const Finding &) const = default;
    };

    using Pairs = QList<std::pair<QString, QString>>;

    // Everything the report says about one meeting.
    struct Context {
        QString name; // the record's file name without extension
        QString version;
        Pairs settings; // label and value, in the model's order
        double minutes = 0;
        QList<Line> lines;
        QList<DiagnosticEvent> events;
        QStringList researchNames;
        QStringList notes;
        Pairs stats;
    };

    // One meeting's row in the overview.
    struct Summary {
        QString name;
        QString version;
        double minutes = 0;
        int lines = 0;
        QMap<QString, int> counts;

        bool operator==(const Summary &) const = default;
    };

    // The twelve categories, in the order of the report and the overview.
    static const QStringList categories;
    // Normalised one- or two-word utterances that are no fragments.
    static const QSet<QString> shortReplies;
    // Lower-case English words a Chinese translation may keep.
    static const QSet<QString> keptInEnglish;

    // The capitalised words that don't begin a sentence, in order.
    static QStringList midSentenceCapitalized(QStringView text);

    static QList<Finding> findings(const QList<Line> &lines, const QStringList &researchNames,
                                   const QStringList &knownNames, const QList<DiagnosticEvent> &events,
                                   double slow);
    // Every category with its number of findings, zeros included.
    static QMap<QString, int> counts(const QList<Finding> &findings);

    // The Markdown report; `review` is the model service's analysis, empty when none.
    static QString report(const Context &context, const QList<Finding> &findings, const QString &review);
    static QString summaryJSON(const QString &name, const QString &version, double minutes, int lines,
                               const QMap<QString, int> &counts);
    // Absent for anything that is not a summary object with a string "name";
    // values of the wrong type or out of range read as absent.
    static std::optional<Summary> parseSummary(const QString &text);
    // The Markdown table of the latest 20 summaries and the most common problems.
    static QString overview(const QList<Summary> &summaries);

    // "+m:ss" of an event time, whole seconds truncated towards zero.
    static QString eventTime(double t);
};
