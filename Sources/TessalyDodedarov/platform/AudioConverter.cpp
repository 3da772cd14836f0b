#include "platform/AudioConverter.h"

struct AudioConverter::Private {
    double inputRate = 0;
    int inputChannels = 0;
};

std::unique_ptr<AudioConverter> AudioConverter::create(double, int, ChannelMix, const AudioFormat &)
{
    return nullptr;
}

AudioConverter::AudioConverter(std::unique_ptr<Private> p)
    : d(std::move(p))
{
}

AudioConverter::~AudioConverter() = default;

PcmBuffer AudioConverter::convert(const float *, qsizetype)
{
    return {};
}

double AudioConverter::inputRate() const
{
    return d->inputRate;
}

int AudioConverter::inputChannels() const
{
    return d->inputChannels;
}
