// The engine's recognition connection: opening it when there is voice, turning its events into
// callbacks, spacing and counting reconnections, and the two-second housekeeping tick.
#include "speech/Engine.h"

#include "common/Clock.h"
#include "common/SerialQueue.h"
#include "common/UserDefaults.h"
#include "speech/ScribeClient.h"


namespace {
// Speaker identifiers are followed through merges, but never round a cycle for ever.
constexpr int maxMergeSteps = 33;
}

void Engine::connectIfNeeded()
{
    if (m_scribe || m_phase == Phase::stopped || Clock::uptime() < m_nextConnectAllowed)
        return;
    m_sessionStarted = false;
    m_speakerNames.merged.clear();
    ++m_speakerNames.connection;

    const bool diarize = UserDefaults::flag(QStringLiteral("diarize")).value_or(true);
    const bool englishOnly = UserDefaults::flag(QStringLiteral("listenEnglishOnly")).value_or(false);
    m_needsReconnect = false;
    m_scribeOpen = false;

    auto *client = new ScribeClient(
        m_apiKey, diarize, englishOnly, m_keyterms, *m_work,
        [this, alive = std::weak_ptr<char>(m_alive)](SpeechClient *from, const SpeechEvent &event) {
            if (!alive.expired())
                handle(event, from);
        });
    // The socket may still be inside one of its own signals when we let go of it.
    m_scribe = std::shared_ptr<SpeechClient>(client, [](SpeechClient *c) {
        static_cast<ScribeClient *>(c)->deleteLater();
    });
}

void Engine::closeConnection()
{
    if (!m_scribe)
        return;
    m_scribe->close();
    m_scribe.reset();
    m_scribeOpen = false;
}

void Engine::handle(const SpeechEvent &event, SpeechClient *from)
{
    if (!m_scribe || from != m_scribe.get())
        return;
    switch (event.kind) {
    case SpeechEvent::Kind::partial: {
        m_lastPartial = event.text;
        std::optional<SpeakerList> labels;
        if (event.speakers) {
            labels.emplace();
            labels->reserve(event.speakers->size());
            for (const std::optional<QString> &speaker : *event.speakers) {
                if (!speaker) {
                    labels->append(std::nullopt);
                    continue;
                }
                QString id = *speaker;
                for (int step = 0; step < maxMergeSteps; ++step) {
                    const auto next = m_speakerNames.merged.constFind(id);
                    if (next == m_speakerNames.merged.cend())
                        break;
                    id = *next;
                }
                labels->append(QString::number(m_speakerNames.connection) + u':' + id);
            }
        }
        callbacks.partial(event.text, labels);
        break;
    }
    case SpeechEvent::Kind::committed:
        m_lastPartial.clear();
        callbacks.partial(QString(), std::nullopt);
        callbacks.committed(event.text);
        break;
    case SpeechEvent::Kind::speakersMerged:
        if (event.from != event.to)
            m_speakerNames.merged.insert(event.from, event.to);
        break;
    case SpeechEvent::Kind::fatal:
        stopOnQueue(event.text);
        break;
    case SpeechEvent::Kind::opened:
        m_scribeOpen = true;
        // What waited for the handshake goes out now; the tail too when the gate has closed.
        flush(!m_gate.isOpen);
        break;
    case SpeechEvent::Kind::started:
        m_sessionStarted = true;
        if (m_failedConnects > 0)
            callbacks.connection(std::nullopt);
        m_failuresBeforeSession = m_failedConnects;
        m_failedConnects = 0;
        break;
    case SpeechEvent::Kind::closed: {
        m_scribe.reset(); // the client has closed itself
        m_scribeOpen = false;
        salvagePartial();
        const double now = Clock::uptime();
        m_nextConnectAllowed = now + reconnectDelay;
        // Reconnect at the next audio without the refused terms; not a failure. Without terms
        // to drop, a reconnection would only be refused again, at once and uncounted, for
        // ever: then it is an ordinary failure, also when the session had started.
        const bool termsRefused =
            event.reason && event.reason->toLower().contains(QLatin1String("keyterm"));
        if (termsRefused && !m_keyterms.isEmpty()) {
            m_rejectedKeyterms = m_keyterms.mid(0, ScribeClient::maxKeyterms);
            m_keyterms.clear();
            m_nextConnectAllowed = now;
            return;
        }
        if (m_sessionStarted && !termsRefused)
            return; // a connection that worked and then dropped is not a failure
        if (m_sessionStarted)
            m_failedConnects = m_failuresBeforeSession; // its start cleared a run that goes on
        ++m_failedConnects;
        if (m_failedConnects >= maxFailedConnects) {
            callbacks.connection(std::nullopt);
            QString reason = QStringLiteral("连接 ElevenLabs 连续失败，已暂停。");
            if (event.reason)
                reason += QStringLiteral("（") + *event.reason + QStringLiteral("）");
            stopOnQueue(reason);
            return;
        }
        callbacks.connection(QStringLiteral("连不上 ElevenLabs，正在重试（%1/5）").arg(m_failedConnects));
        break;
    }
    }
}

void Engine::salvagePartial()
{
    const QString text = m_lastPartial.trimmed();
    m_lastPartial.clear();
    callbacks.partial(QString(), std::nullopt);
    if (!text.isEmpty())
        callbacks.committed(text);
}

void Engine::tick()
{
    if (m_phase == Phase::stopped)
        return;
    const double silence = Clock::uptime() - m_lastVoice;
    if (const std::optional<double> after = autoStopAfter(); after && silence > *after) {
        stopOnQueue(QString::number(qint64(*after / 60.0)) + QStringLiteral(" 分钟没有人声，已自动暂停。"));
        return;
    }
    if ((silence > disconnectAfter || m_needsReconnect) && !m_gate.isOpen && m_scribe) {
        // The next voice connects at once: an idle close is not a failure.
        m_needsReconnect = false;
        closeConnection();
        salvagePartial();
    }
}
