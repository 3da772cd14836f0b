// Completing the meeting record when a meeting or the application ends, and opening the
// records folder.
#include "model/AppModel.h"

#include <QDir>

void AppModel::finalizeRecord()
{
    flushDeltas();
    closeEnglishLine();
    bool changed = false;
    // Units still waiting for a translation go into the record as they were heard.
    for (const QString &unit : m_translator->drainQueue()) {
        if (unit.isEmpty())
            continue;
        m_lines.append(untranslatedLine(unit));
        changed = true;
    }
    for (CaptionLine &line : m_lines) {
        if (line.finished)
            continue;
        // Its translation stays as far as it had streamed.
        line.finished = true;
        changed = true;
    }
    if (changed)
        emit linesChanged();
    saveTranscript(false);
}

void AppModel::openTranscripts()
{
    const QString folder = m_transcript->directory();
    QDir().mkpath(folder);
    openFolder(folder);
}
