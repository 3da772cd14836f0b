#pragma once

#include "platform/PcmBuffer.h"

#include <memory>

// Converts interleaved float audio at any rate and channel count into a mono float format
// (the capture format), keeping the rate converter's state from one buffer to the next.
class AudioConverter final {
public:
    enum class ChannelMix {
        average,       // every channel counts equally (the sound the computer plays)
        firstChannel,  // only channel 0 (a microphone)
    };

    // Nothing when the conversion cannot be set up.
    static std::unique_ptr<AudioConverter> create(double inputRate, int inputChannels,
                                                  ChannelMix mix, const AudioFormat &output);
    ~AudioConverter();

    AudioConverter(const AudioConverter &) = delete;
    AudioConverter &operator=(const AudioConverter &) = delete;

    // Converts `frames` interleaved frames. The result is empty when nothing came out (no
    // input, an error, or the converter is still filling its filter). The returned buffer is
    // the only allocation.
    PcmBuffer convert(const float *interleaved, qsizetype frames);

private:
    struct Private;
    explicit AudioConverter(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};
