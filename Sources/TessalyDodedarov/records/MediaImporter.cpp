#include "records/MediaImporter.h"


#include "common/SafeFile.h"
#include "platform/AudioExtractor.h"
#include "platform/Keychain.h"
#include "records/TranscriptWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThreadPool>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>


namespace {

const QString noRecognitionKey = QStringLiteral(
    "导入音视频生成字幕目前要用 ElevenLabs 转写：请在设置的“API 密钥”里填 ElevenLabs 的密钥。");
const QString nothingRecognised = QStringLiteral("没有识别出任何讲话。");
const QString invalidReply = QStringLiteral("ElevenLabs 没有返回有效响应。");

} // namespace

std::function<bool(const QString &)> MediaImporter::isWritable = [](const QString &folder) {
    return QFileInfo(folder).isWritable();
};

MediaImporter::MediaImporter(Meeting meeting, QObject *parent)
    : QObject(parent), m_meeting(std::move(meeting))
{
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &MediaImporter::stopForQuit);
}

MediaImporter::~MediaImporter()
{
    // Nobody should hear about a stage of an importer that is going away.
    blockSignals(true);
    stopForQuit();
}

QThreadPool &MediaImporter::workers()
{
    static QThreadPool *pool = [] {
        auto *threads = new QThreadPool;
        threads->setMaxThreadCount(4);
        return threads;
    }();
    return *pool;
}

void MediaImporter::setStage(const Stage &stage)
{
    if (m_stage == stage)
        return;
    m_stage = stage;
    emit stageChanged();
}

void MediaImporter::setFileName(const QString &name)
{
    if (m_fileName == name)
        return;
    m_fileName = name;
    emit fileNameChanged();
}

void MediaImporter::setOutputs(const QList<QUrl> &outputs)
{
    if (m_outputs == outputs)
        return;
    m_outputs = outputs;
    emit outputsChanged();
}

void MediaImporter::setSummary(const QString &summary)
{
    if (m_summary == summary)
        return;
    m_summary = summary;
    emit summaryChanged();
}

void MediaImporter::start(const QUrl &file)
{
    if (m_stage.isRunning())
        return;
    const std::optional<QString> key = Keychain::get(Keychain::elevenLabsAccount);
    if (!key || key->isEmpty()) {
        setStage(Stage::failed(noRecognitionKey));
        return;
    }
    const QString source = file.isLocalFile() ? file.toLocalFile() : file.toString();
    setFileName(QFileInfo(source).fileName());
    setOutputs({});
    setSummary({});
    setStage(Stage::extracting());

    auto job = std::make_shared<Job>();
    job->source = source;
    job->key = *key;
    m_job = job;
    QMetaObject::invokeMethod(this, [this, job] { run(job); }, Qt::QueuedConnection);
}

void MediaImporter::cancel()
{
    // The job stops being current first, so whatever its steps report from here on is dropped.
    const JobPtr job = std::move(m_job);
    m_job.reset();
    setStage(Stage::idle());
    if (!job)
        return;
    job->cancelled = true;
    job->upload.cancel();
    job->call.cancel();
}

void MediaImporter::stopForQuit()
{
    const JobPtr job = m_job;
    cancel();
    workers().waitForDone();
    // A job that has not run yet has no folder; an empty path would name the current one.
    if (job && !job->work.isEmpty())
        QDir(job->work).removeRecursively();
}

void MediaImporter::run(const JobPtr &job)
{
    if (!isCurrent(job))
        return;
    job->work = QDir(QDir::tempPath()).filePath(
        workPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    QDir().mkpath(job->work); // without it the upload reports that it cannot prepare its file
    // The extraction module loads on the worker, the first time: without it the import
    // cannot take the sound out, and says so.
    struct Extraction {
        std::optional<QString> audio;
        std::optional<QString> unavailable;
    };
    QtConcurrent::run(&workers(), [job] {
        if (std::optional<QString> missing = AudioExtractor::unavailable())
            return Extraction {std::nullopt, std::move(missing)};
        return Extraction {extractAudio(job->source, job->work, job->cancelled), std::nullopt};
    }).then(this, [this, job](const Extraction &extraction) {
        if (!isCurrent(job))
            return;
        if (extraction.unavailable)
            fail(job, *extraction.unavailable);
        else
            extracted(job, extraction.audio);
    });
}

std::optional<QString> MediaImporter::extractAudio(const QString &file, const QString &folder,
                                                   const std::atomic_bool &cancelled)
{
    const std::optional<AudioExtractor::Result> result = AudioExtractor::extract(file, folder, cancelled);
    if (!result)
        return std::nullopt;
    return result->path;
}

void MediaImporter::extracted(const JobPtr &job, const std::optional<QString> &audio)
{
    setStage(Stage::transcribing());
    const QStringList keyterms = Subtitles::keyterms(m_meeting.background().keyterms());
    // Without sound taken out, the file itself goes and the service decides.
    send(job, audio.value_or(job->source), keyterms, m_meeting.englishOnly());
}

void MediaImporter::send(const JobPtr &job, const QString &audio, const QStringList &keyterms,
                         bool englishOnly)
{
    QPointer<MediaImporter> self(this);
    job->upload = upload(audio, job->key, keyterms, englishOnly, job->work,
                         [self, job, audio, keyterms, englishOnly](const UploadResult &result) {
        if (!self || !self->isCurrent(job) || result.cancelled)
            return;
        if (result.error) {
            if (!keyterms.isEmpty() && result.error->message.toLower().contains(keytermMarker)) {
                QFile::remove(result.bodyFile); // two bodies of a long file need not share the disk
                self->send(job, audio, {}, englishOnly);
                return;
            }
            self->fail(job, result.error->message);
            return;
        }
        self->transcribed(job, result.data);
    });
}

void MediaImporter::transcribed(const JobPtr &job, const QByteArray &data)
{
    const std::optional<Subtitles::Transcription> transcription = Subtitles::parseWords(data);
    // A reply that can't be read is not a recording without speech.
    if (!transcription) {
        fail(job, invalidReply);
        return;
    }
    if (transcription->words.isEmpty()) {
        fail(job, nothingRecognised);
        return;
    }
    job->cues = Subtitles::cues(transcription->words, maxCueDuration, maxCueCharacters, maxCueChinese);
    translate(job);
}

void MediaImporter::fail(const JobPtr &job, const QString &message)
{
    if (!isCurrent(job))
        return;
    m_job.reset();
    setStage(Stage::failed(message));
}

void MediaImporter::writeOutputs(const JobPtr &job)
{
    if (!isCurrent(job) || job->cancelled)
        return;
    const QFileInfo source(job->source);
    QString folder = source.absolutePath();
    if (!isWritable(folder))
        folder = TranscriptWriter::defaultDirectory();
    const QString shown = QDir::toNativeSeparators(folder);
    const QString subtitleFailure = QStringLiteral("字幕文件保存失败，请检查“") + shown + QStringLiteral("”的访问权限。");
    if (!QDir().mkpath(folder)) {
        fail(job, subtitleFailure);
        return;
    }
    const QString base = QDir(folder).filePath(source.completeBaseName());
    const QString subtitles = unique(base + subtitleSuffix);
    if (!SafeFile::write(subtitles, Subtitles::srt(job->cues, true))) {
        fail(job, subtitleFailure);
        return;
    }
    const QString transcript = unique(base + transcriptSuffix);
    if (!SafeFile::write(transcript, Subtitles::transcript(job->cues, source.fileName()))) {
        fail(job, QStringLiteral("文稿保存失败，请检查“") + shown + QStringLiteral("”的访问权限。"));
        return;
    }
    int missing = 0;
    for (const Subtitles::Cue &cue : std::as_const(job->cues))
        missing += cue.translation.isEmpty() ? 1 : 0;
    m_job.reset();
    setOutputs({QUrl::fromLocalFile(subtitles), QUrl::fromLocalFile(transcript)});
    setSummary(summaryText(job->cues, missing, job->interruption,
                           job->unreadableReply && !job->requestFailed));
    setStage(Stage::finished());
}

QString MediaImporter::summaryText(const QList<Subtitles::Cue> &cues, int missing,
                                   const QString &interruption, bool unreadable)
{
    const qsizetype count = cues.size();
    QString text = QStringLiteral("共 ") + QString::number(count) + QStringLiteral(" 条字幕，时长 ")
        + Subtitles::clock(cues.isEmpty() ? 0.0 : cues.back().end) + QStringLiteral("。");
    if (missing > 0 && missing == count && unreadable)
        text += QStringLiteral("没有翻译（翻译服务的回复无法读取），字幕只有原文。");
    else if (missing > 0 && missing == count)
        text += QStringLiteral("没有翻译（翻译服务没有密钥或连接失败），字幕只有原文。");
    else if (missing > 0)
        text += QStringLiteral("有 ") + QString::number(missing) + QStringLiteral(" 条没译出来，只显示原文。");
    if (!interruption.isEmpty())
        text += QStringLiteral("翻译中断：") + interruption;
    return text;
}

QString MediaImporter::unique(const QString &path)
{
    if (!QFileInfo::exists(path))
        return path;
    const QFileInfo info(path);
    const QString stem = info.completeBaseName();
    const QString extension = info.suffix();
    for (int n = 2;; ++n) {
        const QString name = stem + QStringLiteral(" (") + QString::number(n) + u')'
            + (extension.isEmpty() ? QString() : u'.' + extension);
        const QString candidate = info.dir().filePath(name);
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}
