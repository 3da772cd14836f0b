#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <optional>

// Breaks the running caption text into display rows of a given width, the way it would wrap on
// screen: an English word or number is never split, and no row starts with a space or with
// closing punctuation. The meeting model keeps one and feeds it each line's text as it streams
// in; the width of a piece of text comes from the owner's measure, so this stays a plain value
// with no drawing behind it. Characters are grapheme clusters throughout.
class CaptionLayout final {
public:
    using Measure = std::function<double(const QString &)>;

    // The most rows kept; past it the older half goes.
    static constexpr int keepRows = 200;

    double maxWidth = 600;
    Measure measure = [](const QString &) { return 0.0; };
    // Oldest first; never empty (the last row is the one being filled).
    QStringList rows = {QString()};
    // Running number of rows[0].
    qint64 firstRowIndex = 0;
    double rowWidth = 0;
    // The last character the owner gave the layout; read by separateUnits.
    std::optional<QString> lastCharacter;
    // ASCII word characters not yet placed.
    QString pendingWord;

    // Lays out text character by character; a trailing word stays in pendingWord.
    void feed(QStringView text);
    // Puts one unit (a word or a single character) at the end of the last row, wrapping first
    // when it would not fit.
    void place(const QString &unit);
    void startRow();
    // Between two caption units: places the pending word and adds a space where the two units
    // would otherwise run together.
    void separateUnits();
    // New width and measure: re-breaks the text of the last rows.
    void relayout(double newMaxWidth, Measure newMeasure, int keepingLastRows);
    // Places the pending word, if any; the owner calls it when it wants the rows complete.
    void placePendingWord();

    static bool isClosingPunctuation(QStringView character);
    static bool isWordCharacter(QStringView character);
};
