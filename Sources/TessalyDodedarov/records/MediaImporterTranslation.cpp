// The batch translation of an import: cues in batches of 40 with five cues of context, each
// batch asked at most twice; a failure the user must act on stops the batches but keeps what
// was translated.
#include "records/MediaImporter.h"

#include "intelligence/SessionNotes.h"
#include "platform/Keychain.h"
#include "speech/SpeechLanguage.h"
#include "translation/DeepSeek.h"

#include <QPointer>

namespace {

const QString systemOpening = QStringLiteral(
    "你是视频字幕翻译。下面是一段视频的字幕原文（语音识别结果，可能有错词），每条有编号。请把每一条译成");
const QString systemInstruction = QStringLiteral(
    "字幕。\n"
    "只输出 JSON：{\"t\":[\"第 1 条的译文\",\"第 2 条的译文\",…]}，条数和顺序必须和原文完全一致。\n"
    "要求：\n"
    "1. 一条字幕可能只是半句话：结合前后几条理解意思，但每条只译这一条的内容，不要把下一条的内容提前，也不要合并或拆分。\n"
    "2. 字幕要简洁通顺，适合一边看画面一边读；口头禅、重复、结巴不要译出来；人名、产品名拿不准的保留原文。\n"
    "3. 原文明显是识别错的词，按上下文译成讲话人实际说的意思。\n"
    "4. 标着【前文】的只是参考，不要翻译。");

QString joinedTexts(const QList<Subtitles::Cue> &cues, qsizetype from, qsizetype to)
{
    QStringList texts;
    for (qsizetype i = from; i < to; ++i)
        texts.append(cues.at(i).text);
    return texts.join(u' ');
}

} // namespace

void MediaImporter::translate(const JobPtr &job)
{
    const std::optional<QString> key = Keychain::get(Keychain::deepSeekAccount);
    if (!key || key->isEmpty() || job->cues.isEmpty()) {
        writeOutputs(job);
        return;
    }
    job->translationKey = *key;
    const qsizetype sample = std::min<qsizetype>(languageSample, job->cues.size());
    job->target = SpeechLanguage(joinedTexts(job->cues, 0, sample)) == SpeechLanguage::chinese
        ? QStringLiteral("英文")
        : QStringLiteral("简体中文");
    job->batches = int((job->cues.size() + batchSize - 1) / batchSize);
    job->batch = 0;
    translateBatch(job);
}

void MediaImporter::translateBatch(const JobPtr &job)
{
    if (!isCurrent(job))
        return;
    if (job->batch >= job->batches || !job->interruption.isEmpty()) {
        writeOutputs(job);
        return;
    }
    setStage(Stage::translating(job->batch, job->batches));
    const int first = job->batch * batchSize;
    const int count = int(std::min<qsizetype>(batchSize, job->cues.size() - first));
    const QByteArray body = DeepSeek::agentBody(systemMessage(job, first, count),
                                                userMessage(job->cues, first, count), maxTokens);
    request(job, body, 1);
}

QString MediaImporter::systemMessage(const JobPtr &job, int first, int count) const
{
    // Read afresh for every batch: notes the user adds meanwhile reach the later batches.
    return systemOpening + job->target + systemInstruction
        + m_meeting.background().promptBlock(joinedTexts(job->cues, first, first + count))
        + SessionNotes::promptBlock(m_meeting.notes());
}

QString MediaImporter::userMessage(const QList<Subtitles::Cue> &cues, int first, int count)
{
    QString message;
    if (first > 0) {
        message = QStringLiteral("【前文】") + joinedTexts(cues, std::max(0, first - contextCues), first)
            + QStringLiteral("\n\n");
    }
    for (int i = 0; i < count; ++i)
        message += QString::number(i + 1) + QStringLiteral(". ") + cues.at(first + i).text + u'\n';
    return message;
}

void MediaImporter::request(const JobPtr &job, const QByteArray &body, int attempt)
{
    QPointer<MediaImporter> self(this);
    auto reply = std::make_shared<QString>();
    // The call's handlers stay with the transport; a weak hold keeps them from keeping the job.
    const std::weak_ptr<Job> weak = job;
    job->call = DeepSeekTransport::stream(
        body, job->translationKey, [reply](const QString &piece) { *reply += piece; },
        [self, weak, body, attempt, reply](const DeepSeekTransport::Outcome &outcome) {
            const JobPtr job = weak.lock();
            if (self && job && self->isCurrent(job))
                self->answered(job, body, attempt, outcome, *reply);
        },
        m_meeting.transport());
}

void MediaImporter::answered(const JobPtr &job, const QByteArray &body, int attempt,
                             const DeepSeekTransport::Outcome &outcome, const QString &reply)
{
    const int first = job->batch * batchSize;
    const int count = int(std::min<qsizetype>(batchSize, job->cues.size() - first));
    using Kind = DeepSeekTransport::Outcome::Kind;
    if (outcome.kind == Kind::failure && outcome.failure.fatal) {
        // A bad key or an empty balance fails every further batch: keep what is translated.
        job->interruption = outcome.failure.message;
        job->requestFailed = true;
        nextBatch(job, std::nullopt);
        return;
    }
    if (outcome.kind == Kind::success) {
        const std::optional<QStringList> translations = Subtitles::parseTranslations(reply, count);
        if (translations || attempt >= requestsPerBatch) {
            if (!translations)
                job->unreadableReply = true;
            nextBatch(job, translations);
            return;
        }
    } else if (attempt >= requestsPerBatch) {
        job->requestFailed = true;
        nextBatch(job, std::nullopt);
        return;
    }
    request(job, body, attempt + 1);
}

void MediaImporter::nextBatch(const JobPtr &job, const std::optional<QStringList> &translations)
{
    const int first = job->batch * batchSize;
    if (translations) {
        for (qsizetype i = 0; i < translations->size(); ++i)
            job->cues[first + i].translation = translations->at(i);
    }
    ++job->batch;
    translateBatch(job);
}
