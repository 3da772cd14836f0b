#pragma once

#include "speech/VoiceTimeline.h"
#include "speech/AudioMixer.h"
#include "speech/AudioSource.h"
#include "speech/Speakers.h"
#include "speech/SpeechClient.h"
#include "speech/VoiceGate.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class MicrophoneCapture;
class PcmBuffer;
class QTimer;
class SerialQueue;
class SpeechClassifier;
class SystemAudioTap;

// Turns captured sound into recognised text. It captures the chosen source, gates it on
// voice, streams what the gate passes to the realtime recognition service in 100 ms chunks
// over a connection it opens only when there is voice, and reports transcripts, phases and
// billed seconds through its callbacks. It keeps every piece of state on its own queue and
// calls the callbacks there; the meeting model owns the one engine and moves each call on.
class Engine final {
public:
    enum class Phase {
        stopped,     // nothing captured
        standby,     // capturing; the gate is closed, nothing is sent or billed
        recognizing, // the gate is open and audio is streamed
    };

    struct Callbacks {
        std::function<void(Phase)> phase = [](Phase) {};
        // One label per word ("<connection>:<speaker>"); an empty text with no labels clears
        // the partial line.
        std::function<void(const QString &text, const std::optional<SpeakerList> &labels)> partial =
            [](const QString &, const std::optional<SpeakerList> &) {};
        std::function<void(const QString &text)> committed = [](const QString &) {};
        // Whole seconds while running (0 at start), the exact figure at stop.
        std::function<void(double seconds)> billedSeconds = [](double) {};
        std::function<void(const std::optional<QString> &reason)> stopped =
            [](const std::optional<QString> &) {};
        // A connection problem notice (text), or its clearing (nothing).
        std::function<void(const std::optional<QString> &notice)> connection =
            [](const std::optional<QString> &) {};
    };

    Engine();
    ~Engine();

    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // Installed by the owner before the first start.
    Callbacks callbacks;

    static constexpr double disconnectAfter = 30.0;
    static constexpr qsizetype chunkBytes = 3200;        // 100 ms of 16 kHz 16-bit mono
    static constexpr qsizetype maxPendingBytes = 320000; // 10 s kept while no connection is open
    static constexpr double reconnectDelay = 3.0;
    static constexpr int maxFailedConnects = 5;

    // Every operation returns at once and runs on the engine's queue, in call order.
    void start(const QString &apiKey);
    void stop();
    void stop(const QString &reason);
    void setAPIKey(const QString &key);
    void setKeyterms(const QStringList &keyterms);
    void reconnectSoon();
    void restartCapture();

    // Loud-voice intervals for latency measurement; read them only while holding the lock.
    VoiceTimeline &timeline() { return m_timeline; }
    QMutex &timelineLock() { return m_timelineLock; }

private:
    // Tests and benchmarks drive the queue-side steps directly, on a clock they move.
    friend class EngineHarness;
    friend class ModelRig;

    void startOnQueue(const QString &apiKey);
    void stopOnQueue(const std::optional<QString> &reason);
    std::optional<QString> startCapture();
    void stopCapture();
    void tick();
    void handleBatch(const PcmBuffer &batch);
    void handle(const PcmBuffer &buffer, double now);
    void mix(const PcmBuffer &buffer, AudioMixer::Input from);
    void enqueue(const QList<float> &samples);
    void flush(bool all);
    void connectIfNeeded();
    void handle(const SpeechEvent &event, SpeechClient *from);
    void salvagePartial();
    std::optional<double> autoStopAfter() const;
    void setPhase(Phase phase);
    void closeConnection();

    // Lets work posted from other threads find out on the queue that the engine is gone.
    std::shared_ptr<char> m_alive = std::make_shared<char>(0);
    std::unique_ptr<SerialQueue> m_work;
    std::unique_ptr<SystemAudioTap> m_tap;
    std::unique_ptr<MicrophoneCapture> m_mic;
    AudioMixer m_mixer;
    std::unique_ptr<SpeechClassifier> m_classifier;
    VoiceGate m_gate;
    std::shared_ptr<SpeechClient> m_scribe;
    // The current connection has completed its upgrade. Until then audio stays in m_pending:
    // audio is billed only once it is written on an open connection, and audio held by a
    // handshake that fails is sent on the next connection instead.
    bool m_scribeOpen = false;
    QTimer *m_timer = nullptr;
    QString m_apiKey;
    Phase m_phase = Phase::stopped;
    QByteArray m_pending;
    qint64 m_billedSamples = 0;
    double m_lastVoice = 0;
    // When the newest piece of captured audio was heard: the pieces of a batch are timed
    // back from its arrival, and never before the piece ahead of them.
    double m_heardAt = 0;
    double m_nextConnectAllowed = 0;
    int m_failedConnects = 0;
    // The failure count when the current session started, for a session that the service
    // refuses all the same.
    int m_failuresBeforeSession = 0;
    bool m_sessionStarted = false;
    QString m_lastPartial;
    SpeakerNames m_speakerNames;
    QStringList m_keyterms;
    // The terms of a list the service refused, as they were sent: the owner hands the same
    // list back later (it derives it from the meeting's notes), and sending it again would be
    // refused again, for ever.
    std::optional<QStringList> m_rejectedKeyterms;
    bool m_needsReconnect = false;
    int m_sessionID = 0;
    qint64 m_reportedSeconds = 0;
    VoiceTimeline m_timeline;
    QMutex m_timelineLock;
};
