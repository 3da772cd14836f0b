#pragma once

#include "speech/SpeechLanguage.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// Turns queued caption units into streamed translations, one live request at a time, and runs
// up to two background jobs on lines already shown (corrected sources, English lines for a third
// language, re-translations, merges). Everything it finds is reported to the meeting model
// through `handlers`; `generation` silences whatever an older meeting still delivers.
// Owned by the meeting model; main thread only.
class Translator final : public QObject {
public:
    struct Handlers {
        std::function<int(const QString &text, bool newTurn)> begin = [](const QString &, bool) {
            return 0;
        };
        std::function<void(int line, const QString &piece)> append = [](int, const QString &) {};
        std::function<void(int line, bool ok)> finish = [](int, bool) {};
        std::function<void(int line, const QString &text)> corrected = [](int, const QString &) {};
        std::function<void(int line, const std::optional<QString> &translation)> backfillDone =
            [](int, const std::optional<QString> &) {};
        std::function<void(const QString &message)> fatal = [](const QString &) {};
        std::function<void(int line, double sinceSpeech, double sinceRequest)> latency =
            [](int, double, double) {};
        // Answers to questions about shown lines name the source text that was sent with that
        // very request (for a merge, the joined text), so a line that grew meanwhile can be told.
        std::function<void(int line, const QString &sent, const std::optional<QString> &translation,
                           const QString &alternate)>
            rechecked = [](int, const QString &, const std::optional<QString> &, const QString &) {};
        std::function<void(const QList<int> &ids, const QString &sent, const QString &source,
                           const std::optional<QString> &translation, const QString &alternate)>
            merged = [](const QList<int> &, const QString &, const QString &,
                        const std::optional<QString> &, const QString &) {};
        std::function<void(int line, const QString &text)> continueLine = [](int, const QString &) {};
        std::function<void(int line, SpeechLanguage language)> language = [](int, SpeechLanguage) {};
        std::function<void(int line, const QString &text)> alternate = [](int, const QString &) {};
        std::function<void(int line, const QString &sent, const std::optional<QString> &translation,
                           const QString &alternate)>
            refixed = [](int, const QString &, const std::optional<QString> &, const QString &) {};
    };

    // One caption unit waiting for translation.
    struct QueueEntry {
        QString text;
        bool newTurn = false;
        double spokenAt = 0; // clock reading the latency of its translation is measured from
        SpeechLanguage language;
    };

    // The caption line that the next unit may continue.
    struct OpenLine {
        int id = 0;
        SpeechLanguage language;
        double at = 0;
        bool operator==(const OpenLine &) const = default;
    };

    // One background job on a shown line (for a merge, on the first of the merged lines).
    struct BackfillItem {
        int id = 0;
        QString english;
        QStringList before;
        bool correctOnly = false;
        std::optional<QString> hint;
        std::optional<QList<int>> mergeIds;
        bool englishOnly = false;
        bool refix = false;

        BackfillItem(int id, QString english, QStringList before)
            : id(id), english(std::move(english)), before(std::move(before))
        {
        }
        bool operator==(const BackfillItem &) const = default;
    };

    // Sends one request body with a key, hands on every streamed piece, and reports the end
    // exactly once; the meeting model passes DeepSeekTransport::streamer with its own listener.
    using Streamer = DeepSeekTransport::Streamer;

    explicit Translator(Streamer streamer, QObject *parent = nullptr);
    ~Translator() override;

    Handlers handlers;
    std::function<QString(const QString &sentence)> memory = [](const QString &) { return QString(); };
    std::function<QString()> stableMemory = [] { return QString(); };
    std::function<QString(const QString &sentence)> sentenceHints = [](const QString &) {
        return QString();
    };
    // Whether captions into Chinese are asked for in traditional characters: the owner's
    // caption setting, read each time a caption body is built.
    std::function<bool()> traditional = [] { return false; };
    Streamer streamer;
    QList<QueueEntry> queue;
    std::optional<OpenLine> openLine;
    std::function<double()> clock;

    static constexpr int contextLimit = 10;
    static constexpr int backfillWorkers = 2;
    // How often work that waits for a slow keyring asks it again, in ms.
    static constexpr int keyRetryMs = 250;

    const QList<DeepSeek::Pair> &context() const { return m_context; }
    bool running() const { return m_running; }
    int generation() const { return m_generation; }
    const QList<BackfillItem> &backfillItems() const { return m_backfillItems; }
    const QSet<int> &backfillInFlight() const { return m_backfillInFlight; }

    void pump();
    void reset();
    QStringList drainQueue();
    QString queuedText() const;

    void correct(BackfillItem item);
    void requestEnglish(BackfillItem item);
    void recheck(BackfillItem item, const QString &hint);
    void refix(BackfillItem item, const QString &hint);
    void merge(const QList<int> &ids, const QString &text, const QStringList &before);

    static bool usefulAlternate(const QString &alternate, const QString &source);
    static bool mayBeCorrectionHead(const QString &text);
    static bool plausibleCorrection(const QString &corrected, const QString &source);

    // The format line added for speech that is neither English nor Chinese.
    static QString otherLanguageFormat();

private:
    struct LiveRun;
    struct BackfillRun;

    void abandonQueue();
    void retryWhenKeyringAnswers();
    void run(const QString &english, int line, const QString &key, int generation,
             double spokenAt, SpeechLanguage language);
    void sendLive(const std::shared_ptr<LiveRun> &live);
    void livePiece(LiveRun &live, const QString &piece);
    void liveEnded(const std::shared_ptr<LiveRun> &live, const DeepSeekTransport::Outcome &outcome);
    void endLive(LiveRun &live, const std::optional<QString> &fatalMessage);

    void enqueueBackfill(BackfillItem item);
    void pumpBackfill();
    void runBackfill(const BackfillItem &item, const QString &key, int generation);
    void sendBackfill(const std::shared_ptr<BackfillRun> &job);
    void backfillEnded(const std::shared_ptr<BackfillRun> &job,
                       const DeepSeekTransport::Outcome &outcome);
    void reportBackfill(const BackfillItem &item, const QString &answer);

    QList<DeepSeek::Pair> m_context;
    bool m_running = false;
    bool m_keyRetryArmed = false;
    int m_generation = 0;
    DeepSeekTransport::Call m_task;
    std::shared_ptr<LiveRun> m_live;
    QList<BackfillItem> m_backfillItems;
    QSet<int> m_backfillInFlight;
};
