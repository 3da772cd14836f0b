#include "model/HistoryChange.h"

#include <algorithm>

namespace {

using Paragraph = HistoryText::Paragraph;

// Equal paragraphs, answered quickly for texts that share their data: the new list the view
// gets is mostly made of the very strings it rendered last time.
bool sameText(const QString &a, const QString &b)
{
    return a.isSharedWith(b) || a == b;
}

bool sameParagraph(const Paragraph &a, const Paragraph &b)
{
    return a.turn == b.turn && a.primaryDim == b.primaryDim && a.latest == b.latest && a.older == b.older
        && sameText(a.primary, b.primary) && sameText(a.live, b.live) && sameText(a.secondary, b.secondary)
        && sameText(a.original, b.original) && a.highlights == b.highlights;
}

qsizetype textSize(const Paragraph &p)
{
    return p.primary.size() + p.live.size() + p.secondary.size() + p.original.size();
}

int sum(const QList<int> &lengths, qsizetype begin, qsizetype end)
{
    int total = 0;
    for (qsizetype i = begin; i < end && i < lengths.size(); ++i)
        total += lengths.at(i);
    return total;
}

} // namespace

std::optional<HistoryChange> HistoryChange::between(const QList<Paragraph> &rendered, const QList<int> &lengths,
                                                    const QList<Paragraph> &target, bool newLook,
                                                    qsizetype sliceCharacters)
{
    const QList<Paragraph> noParagraphs;
    const QList<int> noLengths;
    const QList<Paragraph> &old = newLook ? noParagraphs : rendered;
    const QList<int> &oldLengths = newLook ? noLengths : lengths;

    HistoryChange c;
    if (!newLook) {
        while (c.start < target.size() && c.start < old.size() && sameParagraph(target.at(c.start), old.at(c.start)))
            ++c.start;
        if (c.start == target.size() && c.start == old.size())
            return std::nullopt;
    }
    // Paragraphs at the end that did not change stay as they are (never the first one, which
    // is drawn without the gap above it).
    const qsizetype floor = std::max<qsizetype>(c.start, 1);
    while (target.size() - c.kept - 1 >= floor && old.size() - c.kept - 1 >= floor
           && sameParagraph(target.at(target.size() - c.kept - 1), old.at(old.size() - c.kept - 1)))
        ++c.kept;
    // A long run (the whole meeting, when the English of the older lines goes at its end) is
    // replaced newest first, so that old and new line up one to one in front of the slice.
    c.newEnd = target.size() - c.kept;
    c.oldEnd = old.size() - c.kept;
    for (qsizetype chars = 0; c.newCount < c.newEnd - c.start && (c.newCount == 0 || chars < sliceCharacters);
         ++c.newCount)
        chars += textSize(target.at(c.newEnd - c.newCount - 1));
    c.replaced = std::max<qsizetype>(c.oldEnd - c.start - (c.newEnd - c.start - c.newCount), 0);
    c.from = c.oldEnd - c.replaced;
    c.to = c.newEnd - c.newCount;
    c.startChar = sum(oldLengths, 0, c.from);
    c.removedChars = sum(oldLengths, c.from, c.oldEnd);
    c.complete = c.from == c.start && c.to == c.start;
    return c;
}
