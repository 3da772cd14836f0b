#pragma once

#include "model/HistoryText.h"

#include <QList>

#include <optional>

// What one update of the caption history replaces: the paragraphs the history text view shows
// against the ones it was asked to show. Paragraphs in front of `start` and the `kept` ones at
// the end stay; between them the old [from, oldEnd) give way to the new [to, newEnd). A long
// run is replaced newest first, at most about `sliceCharacters` of text per call, so `to` may
// stop short of `start`: the caller renders that slice and asks again. Pure function; the
// history text view calls it on every update, the indices count paragraphs and the character
// positions come from the lengths the view keeps of its rendered paragraphs.
struct HistoryChange {
    qsizetype start = 0;    // the paragraphs in front of it are the same in both
    qsizetype kept = 0;     // unchanged paragraphs at the end of both
    qsizetype newEnd = 0;   // end of the changed new paragraphs
    qsizetype oldEnd = 0;   // end of the changed old paragraphs
    qsizetype newCount = 0; // new paragraphs rendered by this slice
    qsizetype replaced = 0; // old paragraphs removed by this slice
    qsizetype from = 0;     // first old paragraph replaced
    qsizetype to = 0;       // first new paragraph rendered
    int startChar = 0;      // document position of paragraph `from`
    int removedChars = 0;   // characters of the old paragraphs [from, oldEnd)
    bool complete = false;  // whether this slice finishes the change

    bool operator==(const HistoryChange &) const = default;

    // Nothing when the rendered paragraphs already are the target. A new look renders every
    // paragraph again: nothing rendered counts then.
    static std::optional<HistoryChange> between(const QList<HistoryText::Paragraph> &rendered,
                                                const QList<int> &lengths,
                                                const QList<HistoryText::Paragraph> &target, bool newLook,
                                                qsizetype sliceCharacters);
};
