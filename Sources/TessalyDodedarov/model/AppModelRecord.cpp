// The meeting record's entries.
#include "model/AppModel.h"

TranscriptWriter::Entry AppModel::recordEntry(const CaptionLine &line) const
{
    // The caption flow's save writes the full form; this is the plain pair of one line.
    TranscriptWriter::Entry entry;
    entry.time = line.time;
    entry.newTurn = line.newTurn;
    entry.english = line.revised ? line.revised->source : line.english;
    const QString translation = line.revised ? line.revised->translation : line.chinese;
    if (!translation.isEmpty())
        entry.chinese = translation;
    return entry;
}
