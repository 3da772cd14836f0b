// Post-meeting work: waiting for the last translations, saving the record, proofreading it in
// chunks with the language model and writing the proofread copy and the diagnostics.
#include "model/AppModel.h"

#include "captions/ChineseScript.h"
#include "intelligence/NameFix.h"
#include "intelligence/SessionNotes.h"
#include "platform/Keychain.h"
#include "speech/Segmenter.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"
#include "translation/Proofread.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <memory>

// Everything post-meeting work reads of the meeting that ended, taken when it ended, so a
// meeting begun during the wait cannot lend it its own record, research or notes.
struct AppModel::EndedMeeting {
    int serial = 0;
    QString file;
    QList<CaptionLine> lines;                     // as they were when the meeting ended
    std::optional<QList<CaptionLine>> finalized;  // as finalizeRecord left them, when a new meeting began
    ResearchResult research;
    SessionBackground background;
    QString notesBlock;
    QString recap;
    QList<TranscriptWriter::Entry> backgroundLog;
    QStringList targets;
    DiagnosticsSnapshot diagnostics;
    int polls = 0;
};

struct AppModel::ProofreadRun {
    std::shared_ptr<AppModel::EndedMeeting> meeting;
    QString key;
    QString name;
    QList<CaptionLine> lines;  // the meeting's, the kept ones picked a slice at a time
    qsizetype nextLine = 0;
    QList<CaptionLine> kept;
    QList<Proofread::Line> original;
    QList<Proofread::Line> fixed;
    QList<Proofread::Line> working;
    QSet<int> changed;
    QMap<int, QString> notes;
    std::optional<QString> lastFailure;
    Proofread::Chunks chunks;
    int done = 0;
};

namespace {

std::optional<QString> differing(const QString &value, const QString &from)
{
    return value != from ? std::optional<QString>(value) : std::nullopt;
}

constexpr int minimumProofreadWords = 30;

} // namespace

const QString AppModel::proofreadLocalReason = QStringLiteral("和本场已知的名字只差一两个字母");

void AppModel::proofreadWhenSettled()
{
    const std::optional<QString> file = m_transcript->fileURL();
    if (!file)
        return;
    if (!m_proofreadAfterMeeting && !m_diagnosticsEnabled)
        return;

    auto meeting = std::make_shared<EndedMeeting>();
    meeting->serial = m_meetingSerial;
    meeting->file = *file;
    meeting->lines = m_lines;
    log(QStringLiteral("meeting_end"));
    meeting->diagnostics = diagnosticsSnapshot();
    meeting->research = m_research;
    meeting->background = background();
    meeting->notesBlock = SessionNotes::promptBlock(m_notes);
    meeting->recap = m_recap;
    meeting->backgroundLog = m_meeting.backgroundLog;
    meeting->targets = soundAlikeTargets();
    m_endedMeetings.append(meeting);

    QPointer<AppModel> self(this);
    // Checks once now, then after each sleep; at most `settlePolls` sleeps.
    auto check = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weakCheck = check;
    *check = [self, meeting, weakCheck] {
        if (!self)
            return;
        bool settled = self->m_meetingSerial != meeting->serial;
        if (!settled) {
            settled = !self->m_translator->running();
            for (const CaptionLine &line : self->m_lines)
                if (!line.english.isEmpty() && !line.finished)
                    settled = false;
        }
        if (!settled && meeting->polls < self->m_platform.timings.settlePolls) {
            meeting->polls += 1;
            auto again = weakCheck.lock();
            QTimer::singleShot(int(self->m_platform.timings.settlePollInterval * 1000), self.data(), [again] { (*again)(); });
            return;
        }
        self->afterSettled(meeting);
    };
    // The pending timer holds the check; the first one runs from the event loop as well.
    QTimer::singleShot(0, this, [check] { (*check)(); });
}

void AppModel::afterSettled(const std::shared_ptr<EndedMeeting> &meeting)
{
    m_endedMeetings.removeAll(meeting);
    QList<CaptionLine> lines;
    if (m_meetingSerial == meeting->serial) {
        // Queued, not waited for: the writer's queue writes it before the proofread copy and
        // the diagnostics, and before it goes; the main thread does not wait behind the queue.
        saveTranscript(false);
        lines = m_lines;
    } else {
        lines = meeting->finalized.value_or(meeting->lines);
    }
    if (m_proofreadAfterMeeting) {
        startProofread(meeting, lines);
        return;
    }
    writeDiagnostics(meeting->file, meeting->diagnostics, lines, std::nullopt, std::nullopt, {});
}

void AppModel::handEndedLines()
{
    // Called by beginMeeting once the record of the meeting that is ending is complete.
    for (const std::shared_ptr<EndedMeeting> &meeting : std::as_const(m_endedMeetings))
        if (meeting->serial == m_meetingSerial && !meeting->finalized)
            meeting->finalized = m_lines;
}

void AppModel::startProofread(const std::shared_ptr<EndedMeeting> &meeting, const QList<CaptionLine> &lines)
{
    // Only whether there are enough words counts: the first kept lines tell.
    int words = 0;
    for (qsizetype i = 0; i < lines.size() && words < minimumProofreadWords; ++i)
        if (inRecord(lines.at(i)))
            words += int(Segmenter::words(lines.at(i).english).size());
    const std::optional<QString> key = Keychain::get(Keychain::deepSeekAccount);
    if (!key || words < minimumProofreadWords) {
        writeDiagnostics(meeting->file, meeting->diagnostics, lines, std::nullopt, std::nullopt, {});
        return;
    }
    auto run = std::make_shared<ProofreadRun>();
    run->meeting = meeting;
    run->lines = lines;
    run->key = *key;
    run->name = QFileInfo(meeting->file).completeBaseName();
    correctProofreadLines(run);
}

void AppModel::correctProofreadLines(const std::shared_ptr<ProofreadRun> &run)
{
    // A long meeting's lines take far longer than a frame to pick and correct: a slice of
    // them per turn of the event loop.
    const EndedMeeting &meeting = *run->meeting;
    const NameFix::WordTest isWord = m_platform.isDictionaryWord;
    const auto corrected = [&](const QString &text) {
        return NameFix::correctionChain(text, meeting.background.names, meeting.research.fixes, meeting.targets,
                                        isWord)
            .text;
    };
    const qsizetype end = std::min(run->lines.size(), run->nextLine + proofreadSliceLines);
    for (; run->nextLine < end; ++run->nextLine) {
        const CaptionLine &line = run->lines.at(run->nextLine);
        if (!inRecord(line))
            continue;
        run->kept.append(line);
        const Proofread::Line original = line.revised
            ? Proofread::Line{line.revised->source, line.revised->translation}
            : Proofread::Line{line.english, line.chinese};
        run->original.append(original);
        run->fixed.append({corrected(original.source), corrected(original.translation)});
    }
    QPointer<AppModel> self(this);
    if (run->nextLine < run->lines.size()) {
        QTimer::singleShot(0, this, [self, run] {
            if (self)
                self->correctProofreadLines(run);
        });
        return;
    }

    run->chunks = Proofread::chunks(run->fixed, 1500, 60, 30);
    setProofreadStatus(QStringLiteral("正在会后校对“") + run->name + QStringLiteral("”（0/")
                       + QString::number(run->chunks.ranges.size()) + QStringLiteral("）…"));

    // Local fixes become notes.
    for (int i = 0; i < run->fixed.size(); ++i) {
        const Proofread::Line &original = run->original.at(i);
        const Proofread::Line &fixed = run->fixed.at(i);
        if (fixed == original)
            continue;
        run->changed.insert(i);
        run->notes.insert(i, Proofread::note(Proofread::Fix{i, differing(fixed.source, original.source),
                                                            differing(fixed.translation, original.translation),
                                                            proofreadLocalReason},
                                             original));
    }
    run->working = run->fixed;

    QTimer::singleShot(0, this, [self, run] {
        if (self)
            self->proofreadChunk(run);
    });
}

void AppModel::proofreadChunk(const std::shared_ptr<ProofreadRun> &run)
{
    if (run->done >= run->chunks.ranges.size()) {
        finishProofread(run);
        return;
    }
    const Proofread::Range range = run->chunks.ranges.at(run->done);
    const EndedMeeting &meeting = *run->meeting;
    QStringList sources;
    for (int i = range.lower; i < range.upper; ++i)
        sources.append(run->fixed.at(i).source);
    const QString chunkText = sources.join(QLatin1Char(' '));
    QString context;
    if (!meeting.recap.isEmpty())
        context += QStringLiteral(
                       "\n\n【前情提要】本场会议到目前为止讲了这些（只供理解上下文、统一译法，不要翻译它）：\n")
            + meeting.recap;
    context += meeting.background.promptBlock(chunkText);
    context += meeting.notesBlock;
    context += meeting.research.promptBlock();
    const Proofread::Prompt prompt = Proofread::prompt(run->fixed, range, context);
    const QByteArray body = DeepSeek::agentBody(prompt.system, prompt.user, 4000);

    QPointer<AppModel> self(this);
    auto reply = std::make_shared<QString>();
    DeepSeekTransport::stream(
        body, run->key, [reply](const QString &piece) { *reply += piece; },
        [self, run, range, reply](const DeepSeekTransport::Outcome &outcome) {
            if (!self)
                return;
            run->done += 1;
            if (outcome.ok()) {
                for (const Proofread::Fix &fix : Proofread::parse(*reply, run->fixed, range)) {
                    if (fix.index < 0 || fix.index >= run->working.size())
                        continue;
                    Proofread::Line &line = run->working[fix.index];
                    if (fix.source)
                        line.source = *fix.source;
                    if (fix.translation)
                        line.translation = *fix.translation;
                    run->changed.insert(fix.index);
                    const Proofread::Line &original = run->original.at(fix.index);
                    const Proofread::Line &fixed = run->fixed.at(fix.index);
                    // The note keeps a local correction of the other text.
                    const Proofread::Fix shown{
                        fix.index,
                        fix.source ? fix.source : differing(fixed.source, original.source),
                        fix.translation ? fix.translation : differing(fixed.translation, original.translation),
                        fix.why};
                    run->notes.insert(fix.index, Proofread::note(shown, original));
                }
                self->setProofreadStatus(QStringLiteral("正在会后校对“") + run->name + QStringLiteral("”（")
                                         + QString::number(run->done) + QStringLiteral("/")
                                         + QString::number(run->chunks.ranges.size()) + QStringLiteral("）…"));
            } else if (outcome.kind == DeepSeekTransport::Outcome::Kind::failure) {
                run->lastFailure = outcome.failure.message;
                if (outcome.failure.fatal) {
                    self->finishProofread(run);
                    return;
                }
            } else {
                run->lastFailure = QStringLiteral("有的段落连接失败，没校对上。");
            }
            self->proofreadChunk(run);
        },
        m_transport);
}

void AppModel::finishProofread(const std::shared_ptr<ProofreadRun> &run)
{
    const EndedMeeting &meeting = *run->meeting;
    const QString changed = QString::number(run->changed.size());
    const QString note = QStringLiteral("（会后校对版：DeepSeek 改了 ") + changed
        + QStringLiteral(" 段的识别或翻译错误，每处改动写在那一段下面的〔校对〕里；原始记录是“")
        + QFileInfo(meeting.file).fileName() + QStringLiteral("”）");
    std::function<QString(const QString &)> traditional;
    if (m_captionParts.traditional)
        traditional = ChineseScript::toTraditional;
    // The proofread copy of a long meeting is megabytes: its entries and text are made and
    // written on the writer's queue, from implicitly shared copies of the run's lines.
    auto entries = [kept = run->kept, working = run->working, notes = run->notes,
                    background = meeting.backgroundLog, traditional = std::move(traditional)] {
        QList<TranscriptWriter::Entry> entries;
        const int count = int(std::min(kept.size(), working.size()));
        entries.reserve(count);
        for (int i = 0; i < count; ++i) {
            CaptionLine line = kept.at(i);
            const QString alt = line.revised ? line.revised->alt : line.alt;
            line.revised = CaptionLine::Revision{working.at(i).source, working.at(i).translation, alt};
            TranscriptWriter::Entry entry = recordEntry(line, traditional);
            entry.note = notes.contains(i) ? std::optional<QString>(notes.value(i)) : std::nullopt;
            entries.append(entry);
        }
        return TranscriptWriter::interleave(entries, background);
    };
    QPointer<AppModel> self(this);
    m_transcript->saveCopy(meeting.file, std::move(entries), QStringLiteral("校对版"), note,
                           [self, run, changed](const std::optional<QString> &copy) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, run, changed, copy] {
            if (self)
                self->proofreadCopied(run, changed, copy);
        }, Qt::QueuedConnection);
    });
}

void AppModel::proofreadCopied(const std::shared_ptr<ProofreadRun> &run, const QString &changed,
                               const std::optional<QString> &copy)
{
    const EndedMeeting &meeting = *run->meeting;
    if (!copy) {
        setProofreadStatus(QStringLiteral("校对版保存失败，请检查“文档”文件夹的访问权限。"));
    } else {
        QString status = QStringLiteral("会后校对完成：改了 ") + changed + QStringLiteral(" 段，存为“")
            + QFileInfo(*copy).fileName() + QStringLiteral("”");
        if (run->lastFailure)
            status += QStringLiteral("（") + *run->lastFailure + QStringLiteral("）");
        // A record longer than the chunk cap is not reported as wholly proofread.
        if (run->chunks.unproofread > 0)
            status += QStringLiteral("（记录太长，最后 ") + QString::number(run->chunks.unproofread)
                + QStringLiteral(" 段没有校对）");
        setProofreadStatus(status);
    }
    DiagnosticsSnapshot snapshot = meeting.diagnostics;
    snapshot.laterEvents.append(DiagnosticEvent{snapshot.minutes * 60, QStringLiteral("proofread"),
                                                {{QStringLiteral("summary"),
                                                  QStringLiteral("改了 ") + changed + QStringLiteral(" 段")}}});
    writeDiagnostics(meeting.file, snapshot, run->lines, run->original, run->working, run->notes);
}

void AppModel::setProofreadStatus(const OptionalText &text)
{
    publish(m_proofreadStatus, text, &AppModel::proofreadStatusChanged);
}
