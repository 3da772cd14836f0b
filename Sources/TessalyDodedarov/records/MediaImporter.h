#pragma once

#include "intelligence/SessionBackground.h"
#include "intelligence/SessionNote.h"
#include "records/Subtitles.h"
#include "translation/DeepSeekTransport.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QDir>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QFile;
class QThreadPool;

// Turns one audio or video file into bilingual subtitles beside it: takes the sound out, has
// ElevenLabs transcribe the whole recording, groups the words into cues, has DeepSeek translate
// them in batches, and writes an SRT file and a readable transcript. One job at a time.
//
// Lives on the main thread, where every published value changes; the sound extraction and the
// copy of the upload body run on worker threads and report back queued. The import window shows
// the published values and calls start() and cancel(). The meeting is read only through the
// functions given to the constructor, never written.
//
// Job steps are split over MediaImporter.cpp (the job), MediaImporterUpload.cpp (the request to
// the recogniser) and MediaImporterTranslation.cpp (the batch translation).
class MediaImporter final : public QObject {
    Q_OBJECT
public:
    struct Stage {
        enum class Kind { idle, extracting, transcribing, translating, finished, failed };
        Kind kind = Kind::idle;
        int done = 0;    // translating: the batch being translated, from 0
        int total = 0;   // translating: the number of batches
        QString message; // failed

        static Stage idle() { return {}; }
        static Stage extracting() { return {Kind::extracting, 0, 0, {}}; }
        static Stage transcribing() { return {Kind::transcribing, 0, 0, {}}; }
        static Stage translating(int done, int total) { return {Kind::translating, done, total, {}}; }
        static Stage finished() { return {Kind::finished, 0, 0, {}}; }
        static Stage failed(const QString &message) { return {Kind::failed, 0, 0, message}; }

        bool isRunning() const
        {
            return kind == Kind::extracting || kind == Kind::transcribing || kind == Kind::translating;
        }
        bool operator==(const Stage &) const = default;
    };

    // A job's own error: a complete Chinese sentence shown to the user unchanged.
    struct ImportError {
        QString message;
        bool operator==(const ImportError &) const = default;
    };

    // What the importer reads of the meeting, at the moment it needs it.
    struct Meeting {
        std::function<SessionBackground()> background = [] { return SessionBackground{}; };
        std::function<QList<SessionNote>()> notes = [] { return QList<SessionNote>{}; };
        std::function<bool()> englishOnly = [] { return false; };
        // Handed to every translation request: the meeting counts them and shows their outcome
        // as of its own.
        std::function<DeepSeekTransport::Listener()> transport = [] {
            return DeepSeekTransport::Listener{};
        };
    };

    // How one upload ended: the reply body of a 200, an error to show, or a cancel.
    struct UploadResult {
        QByteArray data;
        std::optional<ImportError> error;
        bool cancelled = false;
        QString bodyFile; // the request body in the work folder, when one was made
    };
    using UploadHandler = std::function<void(const UploadResult &)>;

    // The caller's hold on an upload. cancel() stops the body copy between chunks or aborts the
    // request; the handler still runs once, with `cancelled`, after the copy has stopped.
    class Upload {
    public:
        void cancel() const;

        struct State; // opaque: the request and its body copy

    private:
        friend class MediaImporter;
        std::shared_ptr<State> m_state;
    };

    explicit MediaImporter(Meeting meeting, QObject *parent = nullptr);
    ~MediaImporter() override;

    MediaImporter(const MediaImporter &) = delete;
    MediaImporter &operator=(const MediaImporter &) = delete;

    Stage stage() const { return m_stage; }
    QString fileName() const { return m_fileName; }
    QList<QUrl> outputs() const { return m_outputs; } // subtitle file first, transcript second
    QString summary() const { return m_summary; }

    // Starts a job for the file, or fails at once when no recognition key is stored; does
    // nothing while a job runs. Returns at once.
    void start(const QUrl &file);
    // Stops the running job, if any, and shows idle. Nothing of the stopped job is written.
    void cancel();

    // Sends the audio to the recogniser: the multipart body is assembled in `work` on a worker
    // thread, then posted. `done` runs once on the main thread.
    static Upload upload(const QString &audio, const QString &key, const QStringList &keyterms,
                         bool englishOnly, const QString &work, UploadHandler done);
    // The sound of a media file as "audio.m4a" in the folder; none when there is none to take
    // or `cancelled` became true. Blocking.
    static std::optional<QString> extractAudio(const QString &file, const QString &folder,
                                               const std::atomic_bool &cancelled);
    // The path, or the first free "name (n).ext" beside it.
    static QString unique(const QString &path);

    // Cue building.
    static constexpr double maxCueDuration = 6.0;
    static constexpr int maxCueCharacters = 84;
    static constexpr int maxCueChinese = 32;
    // Batch translation.
    static constexpr int languageSample = 30;
    static constexpr int batchSize = 40;
    static constexpr int contextCues = 5;
    static constexpr int maxTokens = 6000;
    static constexpr int requestsPerBatch = 2;
    // Upload: copied in chunks so the body never sits in memory whole.
    static constexpr qint64 chunkSize = 4 * 1024 * 1024;

    static inline const QString workPrefix = QStringLiteral("TessalyImport-");
    static inline const QString subtitleSuffix = QStringLiteral(".双语.srt");
    static inline const QString transcriptSuffix = QStringLiteral(" 文稿.txt");
    static inline const QString keytermMarker = QStringLiteral("keyterm");
    static inline const QString uploadPath = QStringLiteral("/v1/speech-to-text");

    // Upload limits in seconds: from the post until the first body bytes leave; without any
    // byte sent or received (the service is silent while it transcribes); the whole transfer.
    static inline double connectTimeout = 60;
    static inline double idleTimeout = 1800;
    static inline double totalTimeout = 21600;

    // Seams for tests. readChunk reads the next piece of the audio (worker thread); isWritable
    // says whether the source's folder can take the outputs (as root every folder can).
    static inline std::function<qint64(QFile &source, char *buffer, qint64 size)> readChunk;
    static std::function<bool(const QString &folder)> isWritable;

    // The summary of a finished job. `unreadable`: the service answered but its replies could
    // not be read, and no request failed, so a missing translation is not the key's or the
    // connection's fault.
    static QString summaryText(const QList<Subtitles::Cue> &cues, int missing,
                               const QString &interruption, bool unreadable = false);

signals:
    void stageChanged();
    void fileNameChanged();
    void outputsChanged();
    void summaryChanged();

private:
    // One job. Everything that may still touch its work folder (the extraction, the body copy, the
    // upload) holds the job, so the folder goes only when the last of them has let go.
    struct Job {
        QString source;
        QString key;
        QString work;
        std::atomic_bool cancelled{false};
        Upload upload;
        DeepSeekTransport::Call call;

        QList<Subtitles::Cue> cues;
        QString translationKey;
        QString target;
        int batch = 0;
        int batches = 0;
        QString interruption; // the message of a translation failure the user must act on
        bool unreadableReply = false; // a batch ended with answers that held no usable "t" list
        bool requestFailed = false;   // a batch ended with a failed request

        ~Job()
        {
            if (!work.isEmpty())
                QDir(work).removeRecursively();
        }
    };
    using JobPtr = std::shared_ptr<Job>;

    bool isCurrent(const JobPtr &job) const { return job && m_job == job; }
    void setStage(const Stage &stage);
    void setFileName(const QString &name);
    void setOutputs(const QList<QUrl> &outputs);
    void setSummary(const QString &summary);

    void run(const JobPtr &job);
    void extracted(const JobPtr &job, const std::optional<QString> &audio);
    void send(const JobPtr &job, const QString &audio, const QStringList &keyterms, bool englishOnly);
    void transcribed(const JobPtr &job, const QByteArray &data);
    void fail(const JobPtr &job, const QString &message);
    void writeOutputs(const JobPtr &job);
    void stopForQuit();

    // Translation.
    void translate(const JobPtr &job);
    void translateBatch(const JobPtr &job);
    void request(const JobPtr &job, const QByteArray &body, int attempt);
    void answered(const JobPtr &job, const QByteArray &body, int attempt,
                  const DeepSeekTransport::Outcome &outcome, const QString &reply);
    void nextBatch(const JobPtr &job, const std::optional<QStringList> &translations);
    QString systemMessage(const JobPtr &job, int first, int count) const;
    static QString userMessage(const QList<Subtitles::Cue> &cues, int first, int count);

    static QThreadPool &workers();

    Meeting m_meeting;
    Stage m_stage;
    QString m_fileName;
    QList<QUrl> m_outputs;
    QString m_summary;
    JobPtr m_job;
};
