#include "speech/VoiceGate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

float VoiceGate::levelDB(const float *samples, qsizetype count)
{
    if (count <= 0)
        return -120.0f;
    // Accumulated in single precision, as the level is defined.
    float sum = 0.0f;
    for (qsizetype i = 0; i < count; ++i)
        sum += samples[i] * samples[i];
    const float mean = sum / float(count);
    if (!(mean > 0.0f))
        return -120.0f;
    return 20.0f * std::log10(std::sqrt(mean));
}

std::optional<QList<float>> VoiceGate::process(const QList<float> &samples, double at)
{
    const float level = levelDB(samples);
    const bool loud = level > loudThresholdDB;
    if (loud)
        lastLoud = at;

    if (isOpen) {
        if (at - lastLoud >= hangover) {
            isOpen = false;
        } else if (classifierAvailable && at - std::max(openedAt, lastSpeech) > noSpeechLimit) {
            isOpen = false;
            trusted = false;
        } else {
            return samples;
        }
    }

    appendPreroll(samples.constData(), samples.size());
    if (!loud || !trusted)
        return std::nullopt;

    isOpen = true;
    openedAt = at;
    const qsizetype wanted = useLongPreroll ? longPreroll : shortPreroll;
    useLongPreroll = false;
    QList<float> out = newest(std::min(wanted, m_count));
    m_start = 0;
    m_count = 0;
    return out;
}

void VoiceGate::noteSpeech(double at)
{
    lastSpeech = at;
    if (!trusted) {
        trusted = true;
        useLongPreroll = true;
    }
}

void VoiceGate::appendPreroll(const float *samples, qsizetype count)
{
    if (m_ring.empty())
        m_ring.resize(size_t(longPreroll));
    // Only the newest `longPreroll` samples can ever be kept.
    if (count > longPreroll) {
        samples += count - longPreroll;
        count = longPreroll;
    }
    qsizetype write = (m_start + m_count) % longPreroll;
    qsizetype left = count;
    while (left > 0) {
        const qsizetype chunk = std::min(left, longPreroll - write);
        std::memcpy(m_ring.data() + write, samples, size_t(chunk) * sizeof(float));
        samples += chunk;
        left -= chunk;
        write = (write + chunk) % longPreroll;
    }
    const qsizetype total = m_count + count;
    if (total > longPreroll) {
        m_start = (m_start + (total - longPreroll)) % longPreroll;
        m_count = longPreroll;
    } else {
        m_count = total;
    }
}

QList<float> VoiceGate::newest(qsizetype count) const
{
    QList<float> out;
    if (count <= 0)
        return out;
    out.resize(count);
    qsizetype read = (m_start + m_count - count) % longPreroll;
    float *dst = out.data();
    qsizetype left = count;
    while (left > 0) {
        const qsizetype chunk = std::min(left, longPreroll - read);
        std::memcpy(dst, m_ring.data() + read, size_t(chunk) * sizeof(float));
        dst += chunk;
        left -= chunk;
        read = (read + chunk) % longPreroll;
    }
    return out;
}
