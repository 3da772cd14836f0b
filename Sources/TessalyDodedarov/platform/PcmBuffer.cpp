#include "platform/PcmBuffer.h"

#include <utility>

PcmBuffer::PcmBuffer(const AudioFormat &format, QList<float> samples)
    : m_format(format)
    , m_samples(std::move(samples))
{
}

qsizetype PcmBuffer::frameLength() const
{
    return m_format.channels > 0 ? m_samples.size() / m_format.channels : 0;
}

const float *PcmBuffer::floatChannelData(int channel) const
{
    const qsizetype frames = frameLength();
    if (channel < 0 || channel >= m_format.channels || frames == 0)
        return nullptr;
    // Interleaved audio has no separate channel plane to point at.
    if (m_format.interleaved && m_format.channels > 1)
        return nullptr;
    return m_samples.constData() + channel * frames;
}
