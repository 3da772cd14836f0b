// Saving the meeting record: which lines go in, in which form, the report of a failed write,
// completing the record when a meeting or the application ends, and opening the records folder.
#include "model/AppModel.h"

#include "captions/ChineseScript.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>

const QString AppModel::saveFailedText =
    QStringLiteral("会议记录保存失败，请检查“文档”文件夹的访问权限");

void AppModel::saveTranscript(bool synchronously)
{
    if (m_saveTimer) {
        m_saveTimer->stop();
        m_saveTimer->deleteLater();
        m_saveTimer = nullptr;
    }
    if (std::none_of(m_lines.cbegin(), m_lines.cend(), &AppModel::inRecord))
        return;
    QPointer<AppModel> self(this);
    // The entries and the text of a long meeting are made on the writer's queue; the
    // completion runs there too, and the result is applied on the main thread.
    m_transcript->saveMade(recordMaker(), synchronously, [self](bool ok) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, ok] {
            if (self)
                self->setTranscriptProblem(ok ? std::nullopt : OptionalText(saveFailedText));
        }, Qt::QueuedConnection);
    });
}

TranscriptWriter::EntryMaker AppModel::recordMaker() const
{
    // The conversion as it is now: the maker may run after the setting changed.
    std::function<QString(const QString &)> traditional;
    if (m_captionParts.traditional)
        traditional = ChineseScript::toTraditional;
    return [lines = m_lines, background = m_meeting.backgroundLog, traditional = std::move(traditional)] {
        QList<TranscriptWriter::Entry> entries;
        entries.reserve(lines.size());
        for (const CaptionLine &line : lines)
            if (inRecord(line))
                entries.append(recordEntry(line, traditional));
        return TranscriptWriter::interleave(entries, background);
    };
}

TranscriptWriter::Entry AppModel::recordEntry(const CaptionLine &line) const
{
    return recordEntry(line, m_captionParts.traditional ? ChineseScript::toTraditional : nullptr);
}

TranscriptWriter::Entry AppModel::recordEntry(const CaptionLine &line,
                                              const std::function<QString(const QString &)> &traditional)
{
    QString source = line.revised ? line.revised->source : line.english;
    const QString translation = line.revised ? line.revised->translation : line.chinese;
    const QString alt = line.revised ? line.revised->alt : line.alt;
    const SpeechLanguage language = line.language ? *line.language : SpeechLanguage(source);
    if (traditional && language == SpeechLanguage::chinese)
        source = traditional(source);

    TranscriptWriter::Entry entry;
    entry.time = line.time;
    entry.newTurn = line.newTurn;
    const std::optional<QString> shown = translation.isEmpty() ? std::nullopt : std::optional(translation);
    if (!alt.isEmpty() || language == SpeechLanguage::other) {
        entry.chinese = shown;
        entry.english = alt;
        entry.original = source;
    } else if (language == SpeechLanguage::chinese && !translation.isEmpty()) {
        // Chinese speech is the Chinese side, its English translation the English side.
        entry.chinese = source;
        entry.english = translation;
    } else {
        entry.chinese = shown;
        entry.english = source;
    }
    return entry;
}

void AppModel::setTranscriptProblem(const OptionalText &text)
{
    publish(m_transcriptProblem, text, &AppModel::transcriptProblemChanged);
}

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
    m_platform.openFolder(folder);
}
