// The engine's audio path: every 20 ms of captured audio feeds the classifier, the voice
// timeline and the gate; what the gate passes becomes 16-bit PCM sent in 100 ms chunks.
#include "speech/Engine.h"

#include "common/Clock.h"
#include "platform/PcmBuffer.h"
#include "speech/SpeechClassifier.h"
#include "speech/SystemAudioTap.h"

#include <QMutexLocker>

#include <algorithm>

namespace {

// Capture hands over about 100 ms at a time; the classifier, the timeline and the gate still
// take it 20 ms at a time, so that a short word is heard on its own and the gate's times keep
// to the sound within a batch.
constexpr qsizetype kPieceFrames = 320;

} // namespace

void Engine::mix(const PcmBuffer &buffer, AudioMixer::Input from)
{
    const float *data = buffer.floatChannelData(0);
    const qsizetype frames = buffer.frameLength();
    if (!data || frames == 0)
        return;
    QList<float> mixed = m_mixer.push(QList<float>(data, data + frames), from);
    if (!mixed.isEmpty())
        handleBatch(PcmBuffer(SystemAudioTap::outputFormat(), std::move(mixed)));
}

void Engine::handleBatch(const PcmBuffer &batch)
{
    const float *data = batch.floatChannelData(0);
    const qsizetype frames = batch.frameLength();
    if (!data || frames == 0)
        return;
    // The last piece was heard just now, each one before it a piece earlier: the gate's
    // hangover and the timeline's intervals then keep the times of the sound itself.
    const double now = Clock::uptime();
    const double rate = batch.format().sampleRate;
    for (qsizetype start = 0; start < frames; start += kPieceFrames) {
        const qsizetype count = std::min(kPieceFrames, frames - start);
        m_heardAt = std::max(m_heardAt, now - double(frames - start - count) / rate);
        handle(PcmBuffer(batch.format(), QList<float>(data + start, data + start + count)), m_heardAt);
    }
}

void Engine::handle(const PcmBuffer &buffer, double now)
{
    const float *data = buffer.floatChannelData(0);
    const qsizetype frames = buffer.frameLength();
    if (m_phase == Phase::stopped || !data || frames == 0)
        return;
    // The capture format is mono, so its samples are the first channel, shared, not copied.
    const QList<float> samples = buffer.format().channels == 1 && buffer.samples().size() == frames
        ? buffer.samples()
        : QList<float>(data, data + frames);

    if (m_classifier) {
        m_classifier->analyzer().analyze(buffer, m_classifier->framePosition);
        m_classifier->framePosition += frames;
    }

    const float level = VoiceGate::levelDB(samples);
    {
        QMutexLocker lock(&m_timelineLock);
        m_timeline.feed(level, now);
    }

    const bool wasOpen = m_gate.isOpen;
    if (const std::optional<QList<float>> passed = m_gate.process(samples, now)) {
        m_lastVoice = now;
        enqueue(*passed);
    }
    if (m_gate.isOpen == wasOpen)
        return;
    if (m_gate.isOpen) {
        setPhase(Phase::recognizing);
    } else {
        flush(true); // the short tail goes out with the close of the utterance
        setPhase(Phase::standby);
    }
}

void Engine::enqueue(const QList<float> &samples)
{
    const qsizetype start = m_pending.size();
    m_pending.resize(start + samples.size() * 2);
    auto *out = reinterpret_cast<uchar *>(m_pending.data() + start);
    for (const float x : samples) {
        // Truncated toward zero; anything at or above full scale is full scale.
        const auto value = qint16(x < 1.0f ? std::max(x, -1.0f) * 32767.0f : 32767.0f);
        const auto bits = quint16(value);
        *out++ = uchar(bits & 0xff);
        *out++ = uchar(bits >> 8);
    }
    if (m_pending.size() > maxPendingBytes)
        m_pending.remove(0, m_pending.size() - maxPendingBytes); // the newest audio matters
    flush(false);
}

void Engine::flush(bool all)
{
    connectIfNeeded();
    if (!m_scribe || !m_scribeOpen)
        return; // sent once the connection opens, or by the next one

    qsizetype sent = 0;
    // A connection event could drop the connection while we send: test it on every chunk.
    while (m_scribe && (m_pending.size() - sent >= chunkBytes || (all && m_pending.size() > sent))) {
        const qsizetype count = std::min(chunkBytes, m_pending.size() - sent);
        m_scribe->send(m_pending.mid(sent, count));
        sent += count;
        m_billedSamples += count / 2;
    }
    m_pending.remove(0, sent);

    const qint64 seconds = m_billedSamples / 16000;
    if (seconds != m_reportedSeconds) {
        m_reportedSeconds = seconds;
        callbacks.billedSeconds(double(seconds));
    }
}
