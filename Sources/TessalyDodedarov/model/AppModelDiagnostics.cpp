// The diagnostics report of a meeting, and the record text the report and the chat read.
#include "model/AppModel.h"

#include "common/Clock.h"
#include "intelligence/SessionNotes.h"
#include "intelligence/TextCut.h"
#include "platform/Keychain.h"
#include "records/DiagnosticFiles.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

#include <algorithm>
#include <iterator>

QString AppModel::meetingRecordText() const
{
    QList<TranscriptWriter::Entry> entries;
    for (const CaptionLine &line : m_lines)
        if (line.finished && !line.merged && !line.english.isEmpty())
            entries.append(recordEntry(line));
    return TranscriptWriter::body(TranscriptWriter::interleave(entries, m_meeting.backgroundLog));
}

AppModel::DiagnosticsSnapshot AppModel::diagnosticsSnapshot() const
{
    DiagnosticsSnapshot snapshot;
    snapshot.log = m_meeting.diag;
    snapshot.latency = m_meeting.lineLatency;
    snapshot.researchNames = m_research.names;
    snapshot.noteNames = SessionNotes::merged(m_notes).names;
    for (const SessionNote &note : m_notes)
        snapshot.notes.append(note.text);
    const QString n = QStringLiteral("%1");
    snapshot.stats = {
        {QStringLiteral("翻译请求"),
         n.arg(m_meeting.stats.requests) + QStringLiteral(" 次，输入 ") + n.arg(m_meeting.stats.promptTokens)
             + QStringLiteral(" token（缓存命中 ") + n.arg(m_meeting.stats.cachedTokens) + QStringLiteral("），输出 ")
             + n.arg(m_meeting.stats.completionTokens) + QStringLiteral(" token")},
        {QStringLiteral("识别计费"), QString::asprintf("%.0f 秒", m_billedSeconds)},
        {QStringLiteral("数字核对重译"), n.arg(m_meeting.stats.numberRechecks) + QStringLiteral(" 句")},
        {QStringLiteral("半句合成整句"), n.arg(m_meeting.stats.sentenceMerges) + QStringLiteral(" 次")},
        {QStringLiteral("定时研究"), n.arg(m_meeting.diag.count(QStringLiteral("research_reply"))) + QStringLiteral(" 次")},
        {QStringLiteral("即时研究"), n.arg(m_meeting.diag.count(QStringLiteral("quick_reply"))) + QStringLiteral(" 次，查了 ")
                                      + n.arg(m_meeting.askedSuspects.size()) + QStringLiteral(" 个词")},
    };
    if (!m_meeting.stats.latencies.isEmpty())
        snapshot.stats.append({QStringLiteral("出字的句数"), n.arg(m_meeting.stats.latencies.size())});
    const QString on = QStringLiteral("开");
    const QString off = QStringLiteral("关");
    snapshot.settings = {
        {QStringLiteral("边听边研究"), m_researchEnabled ? on : off},
        {QStringLiteral("联网搜索"), !m_researchWebSearch ? off
                                      : m_webSearchRejected ? QStringLiteral("开（接口拒绝，已改不联网）")
                                                            : on},
        {QStringLiteral("读取正在听的网页"), m_readBrowserPage ? on : off},
        {QStringLiteral("会后校对"), m_proofreadAfterMeeting ? on : off},
        {QStringLiteral("繁体"), m_captionParts.traditional ? QStringLiteral("是") : QStringLiteral("否")},
        {QStringLiteral("声音来源"), audioSourceToString(m_audioSource)},
    };
    snapshot.minutes = std::max(0.0, Clock::uptime() - m_meeting.meetingStartedAt) / 60.0;
    snapshot.recordEntries = recordMaker();
    return snapshot;
}

QString AppModel::analysisPrompt()
{
    const QStringList lines{
        QStringLiteral("你是一个 Linux 实时字幕翻译软件（系统声音 → ElevenLabs 语音识别 → 断句 → DeepSeek 翻译成中文；会中有“边听边研究”、近音纠正，会后有校对）的质量分析员。"),
        QStringLiteral("下面是一场会议的自查报告（软件按规则挑出的可疑点、研究和纠正的记录、性能），以及会议记录的节选。"),
        QStringLiteral("先了解这些情况，免得误判："),
        QStringLiteral("- 原文一行是逐字识别结果，口吃、重复（in, in, in）、说了一半的词是故意保留的；翻译时模型会把它们理顺。只有译文受影响时才算问题。"),
        QStringLiteral("- “—— 换人 ——”来自说话人识别。访谈、问答里提问和回答交替是正常的；只有前后内容明显是同一个人在继续说时才算误判，拿不准就不要列。"),
        QStringLiteral("- 讲者本人的名字常常只出现在网页简介里，原文里没说出来是正常的。"),
        QStringLiteral("- 翻译请求数包括：一句话分几次接续翻译、半句合成整句重译、研究、查词、判断网页、会后校对，比段数多是正常的。"),
        QStringLiteral("- 软件已有：删口头禅、近音纠正、研究后回改字幕并重译、数字核对重译、半句合成整句、去掉重复片段、会后校对。建议要具体到这些机制哪里不够，或者缺什么。"),
        QStringLiteral("请找出这一场最主要的 3～6 个问题，按影响大小排序。每个问题写："),
        QStringLiteral("- 现象（附 1～2 个例子，带时间）；"),
        QStringLiteral("- 出在哪一环：识别 / 断句 / 换人判断 / 翻译 / 研究与纠正 / 校对 / 性能；"),
        QStringLiteral("- 可能的原因；"),
        QStringLiteral("- 具体的改进建议（改规则、改提示词、调参数、加检查），写给开发者看。"),
        QStringLiteral("只根据材料说话，拿不准就说明。最后用一句话总结这场的整体质量。用中文，Markdown 列表。"),
    };
    return lines.join(u'\n');
}

namespace {

// The lines of the report, from the kept captions and, after proofreading, what it changed.
QList<Diagnostics::Line> diagnosticLines(const QList<CaptionLine> &kept, const QMap<int, double> &latency,
                                         const std::optional<QList<Proofread::Line>> &original,
                                         const std::optional<QList<Proofread::Line>> &fixed,
                                         const QMap<int, QString> &notes)
{
    QList<Diagnostics::Line> lines;
    lines.reserve(kept.size());
    const bool proofread = original && fixed;
    for (qsizetype i = 0; i < kept.size(); ++i) {
        const CaptionLine &line = kept[i];
        Diagnostics::Line out;
        out.time = line.time.toString(QStringLiteral("HH:mm:ss"));
        out.source = line.revised ? line.revised->source : line.english;
        out.translation = line.revised ? line.revised->translation : line.chinese;
        const SpeechLanguage language = line.language ? *line.language : SpeechLanguage(line.english);
        out.language = language == SpeechLanguage::english   ? QStringLiteral("en")
                       : language == SpeechLanguage::chinese ? QStringLiteral("zh")
                                                             : QStringLiteral("other");
        if (latency.contains(line.id))
            out.latency = latency.value(line.id);
        if (proofread && i < original->size() && i < fixed->size()) {
            out.sourceFixed = original->at(i).source != fixed->at(i).source;
            out.translationFixed = original->at(i).translation != fixed->at(i).translation;
            out.proofreadNote = notes.value(int(i));
        }
        out.fixedWords = line.fixed;
        lines.append(out);
    }
    return lines;
}

}

void AppModel::writeDiagnostics(const QString &file, const DiagnosticsSnapshot &snapshot,
                                const QList<CaptionLine> &lines,
                                const std::optional<QList<Proofread::Line>> &original,
                                const std::optional<QList<Proofread::Line>> &fixed,
                                const QMap<int, QString> &notes)
{
    if (!m_diagnosticsEnabled || std::none_of(lines.cbegin(), lines.cend(), &AppModel::inRecord))
        return;
    const std::optional<QString> key = Keychain::get(Keychain::deepSeekAccount);
    const QString name = QFileInfo(file).completeBaseName();
    const QString version = QCoreApplication::applicationVersion();
    TranscriptWriter *writer = m_transcript.get();
    AppModel *self = this;
    // The findings, the event log and the report of a long meeting take a good part of a
    // second to build: they are made and written on the record writer's queue, which finishes
    // its work before the writer, and so the model, goes. The outcome comes back as an event.
    writer->onQueue([=] {
        Diagnostics::Context context;
        context.name = name;
        context.version = version;
        context.settings = snapshot.settings;
        context.minutes = snapshot.minutes;
        QList<CaptionLine> kept;
        std::copy_if(lines.cbegin(), lines.cend(), std::back_inserter(kept), &AppModel::inRecord);
        context.lines = diagnosticLines(kept, snapshot.latency, original, fixed, notes);
        context.events = snapshot.log.events() + snapshot.laterEvents;
        context.researchNames = snapshot.researchNames;
        context.notes = snapshot.notes;
        context.stats = snapshot.stats;
        const QList<Diagnostics::Finding> findings = Diagnostics::findings(
            context.lines, snapshot.researchNames, snapshot.noteNames, context.events, 4.0);
        const bool written = DiagnosticFiles::write(*writer, context, findings);
        QString user;
        if (key) {
            const QString report = Diagnostics::report(context, findings, QString());
            const QString record = TranscriptWriter::body(snapshot.recordEntries());
            user = QStringLiteral("【自查报告】\n") + TextCut::left(report, 30000)
                   + QStringLiteral("\n\n【会议记录节选】\n") + TextCut::left(record, 20000);
        }
        QMetaObject::invokeMethod(self, [=] {
            self->diagnosticsWritten(written, context, findings, key, user);
        }, Qt::QueuedConnection);
    });
}

void AppModel::diagnosticsWritten(bool written, const Diagnostics::Context &context,
                                  const QList<Diagnostics::Finding> &findings,
                                  const std::optional<QString> &key, const QString &user)
{
    const QString generated = QStringLiteral("已生成诊断报告“") + DiagnosticFiles::reportName(context.name)
                              + QStringLiteral("”（") + QString::number(findings.size()) + QStringLiteral(" 个可疑点");
    if (!written) {
        publish(m_diagnosticsStatus, OptionalText(QStringLiteral("诊断报告保存失败")), &AppModel::diagnosticsStatusChanged);
    } else {
        publish(m_diagnosticsStatus,
                OptionalText(generated + (key ? QStringLiteral("），正在请 DeepSeek 分析…") : QStringLiteral("）"))),
                &AppModel::diagnosticsStatusChanged);
    }
    if (!key)
        return;

    const QByteArray body = DeepSeek::chatBody(analysisPrompt(), {QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                                                              {QStringLiteral("content"), user}}},
                                               false);
    auto analysis = std::make_shared<QString>();
    QPointer<AppModel> self(this);
    // The analysis outlives a new meeting: it only completes this meeting's report.
    DeepSeekTransport::stream(
        body, *key, [analysis](const QString &delta) { analysis->append(delta); },
        [self, analysis, context, findings, generated](const DeepSeekTransport::Outcome &) {
            if (!self)
                return;
            if (analysis->isEmpty()) {
                if (self->m_diagnosticsStatus && self->m_diagnosticsStatus->startsWith(generated))
                    self->publish(self->m_diagnosticsStatus, OptionalText(generated + QStringLiteral("）")),
                                  &AppModel::diagnosticsStatusChanged);
                return;
            }
            // The report is built again with the review, on the writer's queue as the first one.
            TranscriptWriter *writer = self->m_transcript.get();
            AppModel *model = self.data();
            writer->onQueue([writer, model, context, findings, generated, analysis] {
                const bool written = DiagnosticFiles::writeReport(*writer, context, findings, *analysis);
                QMetaObject::invokeMethod(model, [model, written, generated] {
                    model->publish(model->m_diagnosticsStatus,
                                   OptionalText(written ? generated + QStringLiteral("，含 DeepSeek 自动分析）")
                                                        : QStringLiteral("诊断报告保存失败")),
                                   &AppModel::diagnosticsStatusChanged);
                }, Qt::QueuedConnection);
            });
        },
        m_transport);
}

void AppModel::revealDiagnostics()
{
    const QString folder = QDir(m_transcript->directory()).filePath(QStringLiteral("诊断"));
    QDir().mkpath(folder);
    const QString overview = QDir(folder).filePath(DiagnosticFiles::overviewName);
    m_platform.revealFile(QFileInfo::exists(overview) ? overview : folder);
}
