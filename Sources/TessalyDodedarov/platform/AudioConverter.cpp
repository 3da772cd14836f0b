#include "platform/AudioConverter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/version.h>
#include <libswresample/swresample.h>
#include <libswresample/version.h>
}

#include <QLibrary>

#include <cmath>
#include <type_traits>
#include <vector>

namespace {

// FFmpeg's resampler, loaded on the first conversion rather than with the application: with
// its utility library it maps a dozen more libraries (video acceleration, OpenCL) that only a
// meeting's sound needs.
struct Resampler {
    decltype(&av_channel_layout_default) channelLayoutDefault = nullptr;
    decltype(&av_channel_layout_uninit) channelLayoutUninit = nullptr;
    decltype(&swr_alloc_set_opts2) allocSetOpts = nullptr;
    decltype(&swr_set_matrix) setMatrix = nullptr;
    decltype(&swr_init) init = nullptr;
    decltype(&swr_convert) convert = nullptr;
    decltype(&swr_free) free = nullptr;

    bool loaded() const
    {
        return channelLayoutDefault && channelLayoutUninit && allocSetOpts && setMatrix && init
            && convert && free;
    }
};

// Nothing when either library or one of its functions is missing. Loaded once and kept.
const Resampler *resampler()
{
    static const Resampler loaded = [] {
        Resampler r;
        QLibrary swresample(QStringLiteral("swresample"), LIBSWRESAMPLE_VERSION_MAJOR);
        QLibrary avutil(QStringLiteral("avutil"), LIBAVUTIL_VERSION_MAJOR);
        if (!swresample.load() || !avutil.load())
            return r;
        const auto take = [](QLibrary &library, auto &function, const char *name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(library.resolve(name));
        };
        take(avutil, r.channelLayoutDefault, "av_channel_layout_default");
        take(avutil, r.channelLayoutUninit, "av_channel_layout_uninit");
        take(swresample, r.allocSetOpts, "swr_alloc_set_opts2");
        take(swresample, r.setMatrix, "swr_set_matrix");
        take(swresample, r.init, "swr_init");
        take(swresample, r.convert, "swr_convert");
        take(swresample, r.free, "swr_free");
        return r;
    }();
    return loaded.loaded() ? &loaded : nullptr;
}

} // namespace

struct AudioConverter::Private {
    const Resampler *ffmpeg = nullptr;
    double inputRate = 0;
    AudioFormat output;
    SwrContext *swr = nullptr;

    ~Private()
    {
        if (swr)
            ffmpeg->free(&swr);
    }
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

    const Resampler *ffmpeg = resampler();
    if (!ffmpeg)
        return nullptr;
    auto d = std::make_unique<Private>();
    d->ffmpeg = ffmpeg;
    d->inputRate = inputRate;
    d->output = output;

    // The channels are only ever mixed through our own matrix, so their order does not matter.
    AVChannelLayout in{};
    ffmpeg->channelLayoutDefault(&in, inputChannels);
    AVChannelLayout out{};
    ffmpeg->channelLayoutDefault(&out, 1);
    const int made = ffmpeg->allocSetOpts(&d->swr, &out, AV_SAMPLE_FMT_FLT, int(output.sampleRate),
                                         &in, AV_SAMPLE_FMT_FLT, int(inputRate), 0, nullptr);
    ffmpeg->channelLayoutUninit(&in);
    ffmpeg->channelLayoutUninit(&out);
    if (made < 0 || !d->swr)
        return nullptr;

    std::vector<double> matrix(size_t(inputChannels), 0.0);
    if (mix == ChannelMix::firstChannel) {
        matrix[0] = 1.0;
    } else {
        for (double &weight : matrix)
            weight = 1.0 / inputChannels;
    }
    if (ffmpeg->setMatrix(d->swr, matrix.data(), inputChannels) < 0 || ffmpeg->init(d->swr) < 0)
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
    const int produced = d->ffmpeg->convert(d->swr, &out, int(capacity), &in, int(frames));
    if (produced <= 0)
        return {};
    samples.resize(produced);
    return PcmBuffer(d->output, std::move(samples));
}
