#pragma once

#include <QList>

// Layout of captured audio. Samples are always 32-bit floats; a non-interleaved buffer keeps
// its channels one after another.
struct AudioFormat {
    double sampleRate = 0;
    int channels = 0;
    bool interleaved = false;

    bool operator==(const AudioFormat &) const = default;
};

// A block of float audio in a known format. The samples are implicitly shared, so handing a
// buffer from the capture thread to another queue copies no audio.
class PcmBuffer final {
public:
    PcmBuffer() = default;
    // For a non-interleaved format, `samples` holds channel 0 first, then channel 1, ...
    PcmBuffer(const AudioFormat &format, QList<float> samples);

    const AudioFormat &format() const { return m_format; }
    qsizetype frameLength() const;
    // The samples of one channel (non-interleaved), or nullptr when there is no such channel
    // or no audio at all.
    const float *floatChannelData(int channel) const;
    // All samples as stored; for the mono capture format these are the frames themselves.
    const QList<float> &samples() const { return m_samples; }

private:
    AudioFormat m_format;
    QList<float> m_samples;
};
