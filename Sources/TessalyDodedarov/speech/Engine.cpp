#include "speech/Engine.h"

#include "common/Clock.h"
#include "common/SerialQueue.h"
#include "common/UserDefaults.h"
#include "speech/MicrophoneCapture.h"
#include "speech/ScribeClient.h"
#include "speech/SpeechClassifier.h"
#include "speech/SystemAudioTap.h"

#include <QTimer>

#include <cmath>

Engine::Engine()
    : m_work(std::make_unique<SerialQueue>(QStringLiteral("com.tessalab.dodedarov.engine")))
{
}

Engine::~Engine()
{
    // Tear down on the queue, where every field lives; work still queued behind this finds
    // the engine gone and does nothing.
    m_work->sync([this] {
        if (m_timer) {
            delete m_timer;
            m_timer = nullptr;
        }
        stopCapture();
        m_tap.reset();
        m_mic.reset();
        m_classifier.reset();
        if (m_scribe) {
            m_scribe->close();
            m_scribe.reset();
        }
        m_alive.reset();
    });
    m_work.reset();
}

void Engine::start(const QString &apiKey)
{
    m_work->async([this, alive = std::weak_ptr<char>(m_alive), apiKey] {
        if (!alive.expired())
            startOnQueue(apiKey);
    });
}

void Engine::stop()
{
    m_work->async([this, alive = std::weak_ptr<char>(m_alive)] {
        if (!alive.expired())
            stopOnQueue(std::nullopt);
    });
}

void Engine::stop(const QString &reason)
{
    m_work->async([this, alive = std::weak_ptr<char>(m_alive), reason] {
        if (!alive.expired())
            stopOnQueue(reason);
    });
}

void Engine::setAPIKey(const QString &key)
{
    m_work->async([this, alive = std::weak_ptr<char>(m_alive), key] {
        if (alive.expired() || key == m_apiKey)
            return;
        m_apiKey = key;
        m_failedConnects = 0;
        m_needsReconnect = m_scribe != nullptr;
    });
}

void Engine::setKeyterms(const QStringList &keyterms)
{
    m_work->async([this, alive = std::weak_ptr<char>(m_alive), keyterms] {
        if (alive.expired() || keyterms == m_keyterms)
            return;
        // Only the first terms go out: a longer list that begins the same is the same request.
        if (m_rejectedKeyterms && keyterms.mid(0, ScribeClient::maxKeyterms) == *m_rejectedKeyterms)
            return;
        m_keyterms = keyterms;
        m_needsReconnect = m_scribe != nullptr;
    });
}

void Engine::reconnectSoon()
{
    m_work->async([this, alive = std::weak_ptr<char>(m_alive)] {
        if (!alive.expired())
            m_needsReconnect = m_scribe != nullptr;
    });
}

void Engine::restartCapture()
{
    m_work->async([this, alive = std::weak_ptr<char>(m_alive)] {
        if (alive.expired() || m_phase == Phase::stopped)
            return;
        stopCapture();
        ++m_sessionID;
        if (const std::optional<QString> error = startCapture())
            stopOnQueue(error);
    });
}

void Engine::startOnQueue(const QString &apiKey)
{
    if (m_phase != Phase::stopped)
        return;
    m_apiKey = apiKey;

    m_gate = VoiceGate();
    m_pending.clear();
    m_lastPartial.clear();
    m_billedSamples = 0;
    m_reportedSeconds = 0;
    m_nextConnectAllowed = 0;
    m_failedConnects = 0;
    m_failuresBeforeSession = 0;
    m_lastVoice = Clock::uptime();

    m_classifier = SpeechClassifier::create(SystemAudioTap::outputFormat());
    m_gate.classifierAvailable = m_classifier != nullptr;
    if (m_classifier) {
        m_classifier->onSpeech = [this, alive = std::weak_ptr<char>(m_alive)] {
            if (alive.expired())
                return;
            m_work->async([this, alive] {
                if (!alive.expired())
                    m_gate.noteSpeech(Clock::uptime());
            });
        };
    }

    ++m_sessionID;
    if (const std::optional<QString> error = startCapture()) {
        stopCapture();
        m_classifier.reset();
        callbacks.stopped(error);
        return;
    }

    m_timer = new QTimer(m_work->context());
    // Every 2 s on the dot: a coarse timer may drift by a tenth of a second each time.
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(2000);
    QObject::connect(m_timer, &QTimer::timeout, m_timer, [this] { tick(); });
    m_timer->start();

    setPhase(Phase::standby);
    callbacks.billedSeconds(0);
}

void Engine::stopOnQueue(const std::optional<QString> &reason)
{
    if (m_phase == Phase::stopped)
        return;
    if (m_timer) {
        m_timer->stop();
        m_timer->deleteLater();
        m_timer = nullptr;
    }
    stopCapture();
    m_classifier.reset();
    closeConnection();
    salvagePartial();
    m_pending.clear();
    ++m_sessionID;
    callbacks.billedSeconds(double(m_billedSamples) / 16000.0);
    setPhase(Phase::stopped);
    callbacks.stopped(reason);
}

std::optional<QString> Engine::startCapture()
{
    const AudioSource source =
        audioSourceFromString(UserDefaults::text(QStringLiteral("audioSource")).value_or(QString()))
            .value_or(AudioSource::system);
    m_mixer.system.clear();
    m_mixer.microphone.clear();
    const int session = m_sessionID;

    // Buffers arrive on capture threads; they only hop onto the queue, where a buffer of an
    // earlier capture run is recognised by its session number and dropped.
    const auto onBuffer = [this, alive = std::weak_ptr<char>(m_alive), session,
                           source](AudioMixer::Input input) {
        return [this, alive, session, source, input](const PcmBuffer &buffer) {
            m_work->async([this, alive, session, source, input, buffer] {
                if (alive.expired() || session != m_sessionID)
                    return;
                if (source == AudioSource::both)
                    mix(buffer, input);
                else
                    handleBatch(buffer);
            });
        };
    };
    const auto onDeviceChanged = [this, alive = std::weak_ptr<char>(m_alive)] {
        if (!alive.expired())
            restartCapture();
    };

    if (source != AudioSource::microphone) {
        if (!m_tap)
            m_tap = std::make_unique<SystemAudioTap>(m_work.get());
        m_tap->onBuffer = onBuffer(AudioMixer::Input::system);
        m_tap->onOutputDeviceChanged = onDeviceChanged;
        if (const auto error = m_tap->start())
            return error->localizedDescription();
        if (source == AudioSource::system)
            return std::nullopt;
    }
    if (!m_mic)
        m_mic = std::make_unique<MicrophoneCapture>();
    m_mic->onBuffer = onBuffer(AudioMixer::Input::microphone);
    m_mic->onDeviceChanged = onDeviceChanged;
    if (const auto error = m_mic->start())
        return error->localizedDescription();
    return std::nullopt;
}

void Engine::stopCapture()
{
    if (m_tap) {
        m_tap->stop();
        m_tap->onBuffer = nullptr;
        m_tap->onOutputDeviceChanged = nullptr;
    }
    if (m_mic) {
        m_mic->stop();
        m_mic->onBuffer = nullptr;
        m_mic->onDeviceChanged = nullptr;
    }
    m_mixer.system.clear();
    m_mixer.microphone.clear();
}

void Engine::setPhase(Phase phase)
{
    if (phase == m_phase)
        return;
    m_phase = phase;
    callbacks.phase(phase);
}

std::optional<double> Engine::autoStopAfter() const
{
    // Any value that is not a whole number counts as the default of ten minutes.
    const qint64 minutes = UserDefaults::integer(QStringLiteral("autoPauseMinutes")).value_or(10);
    if (minutes <= 0)
        return std::nullopt;
    return double(minutes) * 60.0;
}
