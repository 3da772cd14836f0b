#include "platform/AudioConverter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <vector>

struct AudioConverter::Private {
    double inputRate = 0;
    AudioFormat output;
    SwrContext *swr = nullptr;

    ~Private() { swr_free(&swr); }
};

std::unique_ptr<AudioConverter> AudioConverter::create(double inputRate, int inputChannels,
                                                       ChannelMix mix, const AudioFormat &output)
{
    // The sound server reports whole rates; anything else cannot be set up.
    if (!(inputRate >= 1 && inputRate <= 768000) || inputRate != std::floor(inputRate)
        || inputChannels < 1 || inputChannels > 64 || output.channels != 1
        || !(output.sampleRate >= 1 && output.sampleRate <= 768000)) {
        return nullptr;
    }

    auto d = std::make_unique<Private>();
    d->inputRate = inputRate;
    d->output = output;

    // The channels are only ever mixed through our own matrix, so their order does not matter.
    AVChannelLayout in{};
    av_channel_layout_default(&in, inputChannels);
    AVChannelLayout out{};
    av_channel_layout_default(&out, 1);
    const int made = swr_alloc_set_opts2(&d->swr, &out, AV_SAMPLE_FMT_FLT, int(output.sampleRate),
                                         &in, AV_SAMPLE_FMT_FLT, int(inputRate), 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (made < 0 || !d->swr)
        return nullptr;

    std::vector<double> matrix(size_t(inputChannels), 0.0);
    if (mix == ChannelMix::firstChannel) {
        matrix[0] = 1.0;
    } else {
        for (double &weight : matrix)
            weight = 1.0 / inputChannels;
    }
    if (swr_set_matrix(d->swr, matrix.data(), inputChannels) < 0 || swr_init(d->swr) < 0)
        return nullptr;

    return std::unique_ptr<AudioConverter>(new AudioConverter(std::move(d)));
}

AudioConverter::AudioConverter(std::unique_ptr<Private> p)
    : d(std::move(p))
{
}

AudioConverter::~AudioConverter() = default;

PcmBuffer AudioConverter::convert(const float *interleaved, qsizetype frames)
{
    if (!interleaved || frames <= 0)
        return {};
    // Room for the rate change plus a little slack for what the filter still holds.
    const qsizetype capacity =
        qsizetype(std::floor(d->output.sampleRate / d->inputRate * double(frames))) + 32;
    QList<float> samples(capacity);
    auto *out = reinterpret_cast<uint8_t *>(samples.data());
    const auto *in = reinterpret_cast<const uint8_t *>(interleaved);
    const int produced = swr_convert(d->swr, &out, int(capacity), &in, int(frames));
    if (produced <= 0)
        return {};
    samples.resize(produced);
    return PcmBuffer(d->output, std::move(samples));
}
