// Row publishing and record-save scheduling: the live rows the panel shows, with a preview of
// live English laid out on a copy of the layout, and the one-second save debounce.
#include "model/AppModel.h"

#include "speech/Graphemes.h"
#include "speech/Segmenter.h"

#include <QPointer>
#include <QTimer>

namespace {

constexpr qsizetype shownRows = 3;

} // namespace

void AppModel::publishRows()
{
    const CaptionLayout &layout = m_layout;
    QList<CaptionRow> next;
    const bool preview = m_pipeline->englishOnly() && !m_liveEnglish.isEmpty() && m_meeting.englishBacklog.isEmpty();
    if (!preview) {
        const qsizetype count = layout.rows.size();
        const qsizetype from = std::max<qsizetype>(count - shownRows, 0);
        for (qsizetype p = from; p < count; ++p)
            next.append({int(layout.firstRowIndex + p), layout.rows.at(p), QString()});
    } else {
        // The live words are laid out on a copy; the model's own layout only takes committed text.
        CaptionLayout copy = layout;
        QString text;
        if (m_meeting.pendingTurn)
            text = QStringLiteral("\n");
        else if (copy.lastCharacter
                 && Segmenter::needsSpace(*copy.lastCharacter, Graphemes::first(m_liveEnglish)))
            text = QStringLiteral(" ");
        text += m_liveEnglish;
        copy.lastCharacter = Graphemes::last(text).toString();
        copy.feed(text);
        copy.placePendingWord();
        const qsizetype count = copy.rows.size();
        const qsizetype from = std::max<qsizetype>(count - shownRows, 0);
        for (qsizetype p = from; p < count; ++p) {
            const QString &row = copy.rows.at(p);
            // Committed counterparts are matched by absolute row number: the copy may have
            // dropped old rows and moved its first index.
            const qint64 own = p + copy.firstRowIndex - layout.firstRowIndex;
            const QString committed = own >= 0 && own < layout.rows.size() ? layout.rows.at(own) : QString();
            if (row.startsWith(committed))
                next.append({int(copy.firstRowIndex + p), committed, row.sliced(committed.size())});
            else
                next.append({int(copy.firstRowIndex + p), QString(), row});
        }
    }
    if (next == m_rows)
        return;
    m_rows = std::move(next);
    emit rowsChanged();
}

void AppModel::scheduleSave()
{
    // The wait is not restarted: everything changed within it goes into that one save.
    if (m_saveTimer)
        return;
    m_saveTimer = new QTimer(this);
    m_saveTimer->setSingleShot(true);
    connect(m_saveTimer, &QTimer::timeout, this, [this] { saveTranscript(false); });
    m_saveTimer->start(int(m_platform.timings.saveDelay * 1000));
}
