#pragma once

#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// Helpers for proofreading a finished meeting record with the language model: cutting the
// record into chunks that fit one request, the prompt of a chunk, reading the JSON answer while
// keeping only plausible fixes, and the note a fixed line carries. Stateless; any thread.
// The meeting model drives the requests.
class Proofread final {
public:
    Proofread() = delete;

    struct Line {
        QString source;      // the recognised speech as shown
        QString translation; // the live translation; may be empty
        bool operator==(const Line &) const = default;
    };

    struct Fix {
        int index = 0;                      // position in the whole record
        std::optional<QString> source;      // the corrected source line, when it changes
        std::optional<QString> translation; // the corrected or added translation, when it changes
        QString why;                        // at most 40 characters; may be empty
        bool operator==(const Fix &) const = default;
    };

    // Half-open range of record positions.
    struct Range {
        int lower = 0;
        int upper = 0;
        int count() const { return upper - lower; }
        bool contains(int i) const { return i >= lower && i < upper; }
        bool operator==(const Range &) const = default;
    };

    // The chunks to send, and how many lines at the end of the record the chunk cap leaves
    // unproofread, so a run over a very long record is not reported as complete.
    struct Chunks {
        QList<Range> ranges;
        int unproofread = 0;
        bool operator==(const Chunks &) const = default;
    };

    struct Prompt {
        QString system;
        QString user;
    };

    static Chunks chunks(const QList<Line> &lines, int maxWords, int maxLines, int maxChunks);
    static Prompt prompt(const QList<Line> &lines, Range range, const QString &context);
    static QList<Fix> parse(const QString &reply, const QList<Line> &lines, Range range);
    static QString note(const Fix &fix, const Line &original);
    // The changed span of `old` and the matching span of `updated`.
    static std::pair<QString, QString> difference(const QString &old, const QString &updated);

    static QString systemPrompt();

private:
    static std::optional<int> intValue(const QJsonValue &value);
};
