#pragma once

#include "common/Clock.h"
#include "common/SerialQueue.h"
#include "platform/PcmBuffer.h"
#include "speech/Engine.h"
#include "speech/ScribeClient.h"
#include "speech/SpeechClassifier.h"
#include "speech/SystemAudioTap.h"

#include <QMutex>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <functional>

// An engine with every callback written down as a short line, on a clock the test moves.
// After a start it can take real capture and the timer out of the way, so that only the
// buffers and ticks the test hands in reach the engine.
class EngineHarness final {
public:
    // With `movedClock` false the engine runs on the real clock (real capture end to end).
    explicit EngineHarness(const QUrl &service, bool movedClock = true)
        : m_address(service)
        , m_clock(now, movedClock)
    {
        engine.callbacks.phase = [this](Engine::Phase p) {
            static const char *names[] = {"stopped", "standby", "recognizing"};
            record(QStringLiteral("phase:") + QLatin1String(names[int(p)]));
        };
        engine.callbacks.partial = [this](const QString &text, const std::optional<SpeakerList> &labels) {
            QString line = QStringLiteral("partial:") + text;
            if (labels) {
                QStringList all;
                for (const auto &l : *labels)
                    all.append(l.value_or(QStringLiteral("-")));
                line += u'|' + all.join(u',');
            }
            record(line);
        };
        engine.callbacks.committed = [this](const QString &text) { record(QStringLiteral("committed:") + text); };
        engine.callbacks.billedSeconds = [this](double s) { record(QStringLiteral("billed:") + QString::number(s)); };
        engine.callbacks.stopped = [this](const std::optional<QString> &reason) {
            record(reason ? QStringLiteral("stopped:") + *reason : QStringLiteral("stopped"));
        };
        engine.callbacks.connection = [this](const std::optional<QString> &notice) {
            record(notice ? QStringLiteral("connection:") + *notice : QStringLiteral("connection"));
        };
    }

    // Runs on the engine's queue and waits for it.
    void onQueue(const std::function<void()> &work) { engine.m_work->sync(work); }

    // Starts for real and waits until the engine is in standby (or gave up).
    bool start(const QString &key = QStringLiteral("test-key"))
    {
        engine.start(key);
        return QTest::qWaitFor([this] { return has(QStringLiteral("phase:standby")) || hasPrefix(QStringLiteral("stopped")); }, 10000)
            && has(QStringLiteral("phase:standby"));
    }

    // Detaches real capture, the 2-second timer and the classifier: the gate then works on
    // level alone and time moves only when the test says so.
    // Real capture hands buffers to the queue from its own thread for as long as it runs, so
    // some may already have reached the gate (and its pre-roll) since the start, and some may
    // still wait on the queue behind this. A new session number drops the waiting ones; a
    // fresh gate forgets the ones already heard. Either would otherwise add captured silence
    // to the pre-roll the test's first voice sends.
    // With `keepClassifier` the engine's own speech classifier stays and confirms speech to
    // the gate, on the test's clock.
    void takeOverInput(bool keepClassifier = false)
    {
        onQueue([this, keepClassifier] {
            engine.stopCapture();
            ++engine.m_sessionID;
            if (engine.m_timer)
                engine.m_timer->stop();
            if (!keepClassifier)
                engine.m_classifier.reset();
            engine.m_gate = VoiceGate();
            engine.m_gate.classifierAvailable = engine.m_classifier != nullptr;
        });
    }
    bool hasClassifier() { return read<bool>([this] { return engine.m_classifier != nullptr; }); }

    // Listening without any capture device (benchmarks run without a sound server).
    void listenWithoutCapture(const QString &key = QStringLiteral("test-key"))
    {
        onQueue([this, key] {
            engine.m_apiKey = key;
            engine.m_gate = VoiceGate();
            engine.m_gate.classifierAvailable = false;
            engine.m_phase = Engine::Phase::standby;
        });
    }
    void enqueue(const QList<float> &samples) { engine.enqueue(samples); }
    void handle(const PcmBuffer &buffer) { engine.handle(buffer, Clock::uptime()); }
    // A batch handed over as capture hands it over, arriving at the clock's present time.
    void captured(const QList<float> &samples)
    {
        const PcmBuffer batch(SystemAudioTap::outputFormat(), samples);
        onQueue([this, &batch] { engine.handleBatch(batch); });
    }
    void mix(const PcmBuffer &buffer, AudioMixer::Input from)
    {
        onQueue([&] { engine.mix(buffer, from); });
    }

    // Buffers of 0.125 s (2,000 samples, an exact binary step of the clock), each at the
    // clock's next step unless `advance` is false.
    void feed(double seconds, float value, bool advance = true)
    {
        const int buffers = int(seconds / bufferSeconds + 0.5);
        for (int i = 0; i < buffers; ++i) {
            if (advance)
                now = now + bufferSeconds;
            const PcmBuffer buffer(SystemAudioTap::outputFormat(), QList<float>(bufferSamples, value));
            onQueue([this, &buffer] { engine.handle(buffer, Clock::uptime()); });
        }
    }
    void voice(double seconds, bool advance = true) { feed(seconds, 0.3f, advance); }
    // Recorded sound in buffers of the same size, each at the clock's next step.
    void play(const QList<float> &audio)
    {
        for (qsizetype i = 0; i + bufferSamples <= audio.size(); i += bufferSamples) {
            now = now + bufferSeconds;
            const PcmBuffer buffer(SystemAudioTap::outputFormat(), audio.mid(i, bufferSamples));
            onQueue([this, &buffer] { engine.handle(buffer, Clock::uptime()); });
        }
    }
    void silence(double seconds) { feed(seconds, 0.0f); }
    void tick() { onQueue([this] { engine.tick(); }); }
    bool connected()
    {
        bool open = false;
        onQueue([&] { open = engine.m_scribe != nullptr; });
        return open;
    }
    Engine::Phase phase() { return read<Engine::Phase>([this] { return engine.m_phase; }); }
    // The housekeeping timer's interval and type while the engine runs (nothing when stopped).
    std::optional<std::pair<int, Qt::TimerType>> tickTimer()
    {
        return read<std::optional<std::pair<int, Qt::TimerType>>>(
            [this]() -> std::optional<std::pair<int, Qt::TimerType>> {
                if (!engine.m_timer)
                    return std::nullopt;
                return std::pair(engine.m_timer->interval(), engine.m_timer->timerType());
            });
    }
    int sessionID() { return read<int>([this] { return engine.m_sessionID; }); }
    // The current connection has completed its upgrade.
    bool connectionOpen()
    {
        bool open = false;
        onQueue([&] { open = engine.m_scribe && engine.m_scribeOpen; });
        return open;
    }
    bool sessionStarted()
    {
        bool started = false;
        onQueue([&] { started = engine.m_scribe && engine.m_sessionStarted; });
        return started;
    }
    template <typename T> T read(const std::function<T()> &get)
    {
        T value{};
        onQueue([&] { value = get(); });
        return value;
    }
    // Connections opened since the engine was made.
    int connectionsOpened() { return read<int>([this] { return engine.m_speakerNames.connection; }); }
    double lastVoice() { return read<double>([this] { return engine.m_lastVoice; }); }
    qsizetype pendingBytes() { return read<qsizetype>([this] { return engine.m_pending.size(); }); }
    QStringList keyterms() { return read<QStringList>([this] { return engine.m_keyterms; }); }

    QStringList events()
    {
        QMutexLocker lock(&m_mutex);
        return m_events;
    }
    QStringList take()
    {
        QMutexLocker lock(&m_mutex);
        return std::exchange(m_events, {});
    }
    bool has(const QString &line) { return events().contains(line); }
    bool hasPrefix(const QString &prefix)
    {
        const QStringList all = events();
        return std::any_of(all.begin(), all.end(), [&](const QString &l) { return l.startsWith(prefix); });
    }

    static constexpr double bufferSeconds = 0.125;
    static constexpr qsizetype bufferSamples = 2000;

private:
    // Points the engine at the test's service for as long as the engine lives: its queue reads
    // the address whenever it connects, so it is put back only after the engine is gone.
    struct AddressOverride {
        explicit AddressOverride(const QUrl &service) { ScribeClient::baseAddress = service; }
        ~AddressOverride() { ScribeClient::baseAddress = QUrl(QStringLiteral("wss://api.elevenlabs.io")); }
    };
    // Replaces the clock for as long as the engine lives (it is destroyed after the engine,
    // whose queue reads the clock until then).
    struct ClockOverride {
        ClockOverride(std::atomic<double> &now, bool active)
        {
            if (active)
                Clock::source = [&now] { return now.load(); };
        }
        ~ClockOverride() { Clock::reset(); }
    };
    void record(const QString &line)
    {
        QMutexLocker lock(&m_mutex);
        m_events.append(line);
    }
    QMutex m_mutex;
    QStringList m_events;

public:
    std::atomic<double> now{1024.0};

private:
    AddressOverride m_address;
    ClockOverride m_clock;

public:
    // Last, so it is destroyed first: its callbacks write into the members above.
    Engine engine;
};
