#pragma once

#include "fakes/FakeDeepSeekServer.h"
#include "fakes/FakeScribeServer.h"
#include "fakes/TemporarySettings.h"
#include "model/AppModel.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <memory>

// One meeting model for a test, on everything a test may change and must put back: a settings
// folder of its own, the service addresses on loopback fakes, the three key items of the test
// keyring emptied, the uptime and the wall clock moved by hand, fake platform services for the
// model, and the transport's learnt forms and the segmenter's switch restored afterwards.
// The model itself is made by `make()`, after the test has written settings or keys.
class ModelRig final {
public:
    ModelRig();
    ~ModelRig();

    ModelRig(const ModelRig &) = delete;
    ModelRig &operator=(const ModelRig &) = delete;

    TemporarySettings settings;
    QTemporaryDir records; // the model's records folder is "records" inside it
    FakeDeepSeekServer deepSeek;
    FakeScribeServer scribe;
    double now = 1000.0;                                         // Clock::uptime()
    QDateTime wallNow = QDateTime(QDate(2026, 5, 4), QTime(9, 30, 15)); // the wall clock

    QString recordsFolder() const { return records.filePath(QStringLiteral("records")); }

    // The services the model is made with: the defaults, the records folder above and the
    // wall clock `wallNow`. A test replaces any of them, before or after `make()`: the model is
    // handed hooks that call the ones here at the time of the call. Its timings are copied when
    // the model is made: a test sets them before `make()`.
    AppModel::Platform platform;

    AppModel &make(AppModel::KeyReading keys = AppModel::KeyReading::atOnce);
    AppModel &model() { return *m_model; }
    bool hasModel() const { return m_model != nullptr; }
    void destroyModel();

    // The model's engine for real (capture on the test sound server), waiting for standby.
    bool startEngine();
    // Opens the recognition connection now, as the first voice would; closes it as a quiet
    // moment's housekeeping would when a reconnection is due; whether one is open.
    void connectEngineNow();
    void engineTick();
    bool engineConnected();

    // Replaces the model's caption lines, as the caption flow would.
    void setLines(const QList<CaptionLine> &lines);
    // Opens a meeting without starting recognition; one timer tick; the shown partial text.
    void beginMeeting();
    void tick();
    void setLastPartial(const QString &text);
    int recapLine() const;
    void setBackgroundLog(const QList<TranscriptWriter::Entry> &entries);
    // A pipeline that passes `raw` speech through as heard, and the live text it would show.
    void useRawPipeline(std::optional<SpeechLanguage> raw);
    void setLiveEnglish(const QString &text);
    // Has the model translate one unit through the fake service, as the caption flow would,
    // and answers the system prompt of the request that sent; empty when none came. Needs a
    // stored translation key.
    QString captionPrompt(const QString &unit);
    // Runs the debounced record save now if one is waiting, as its timer would; answers
    // whether one was.
    bool saveIfPending();

    // States the engine, the proofreading and the record writer publish, set directly for views
    // built from model states.
    void setPhase(Engine::Phase phase);
    void setProofreadStatus(const AppModel::OptionalText &text);
    void setTranscriptProblem(const AppModel::OptionalText &text);

    // Writes or removes (empty value) a keyring item, failing the test's setup loudly; reads
    // one straight from the keyring.
    static void storeKey(const QString &account, const QString &value);
    static std::optional<QString> storedKey(const QString &account);

    // The figures of a short meeting for the statistics views: `latencies` sentences from 1.9 s
    // up in 0.1 s steps, 48,000 prompt tokens (30,000 of them cached) and 5,200 completion tokens.
    static SessionStats sampleStats(int latencies);

private:
    struct Saved;
    std::unique_ptr<Saved> m_saved;
    std::unique_ptr<AppModel> m_model;
};
