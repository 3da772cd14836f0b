// How fast one second of captured audio goes through everything the capture side does with
// it: conversion to 16 kHz mono, mixing of the two sources, the level, the voice gate and the
// speech classifier. The "realtime" counter is seconds of audio handled per second of CPU.
// The sound server delivers 16 kHz with the device's channels, so in use the conversion only
// folds stereo to mono; BM_Conversion/48000 shows what a full rate change in process costs.
#include "fakes/TestSound.h"
#include "platform/AudioConverter.h"
#include "speech/AudioMixer.h"
#include "speech/SpeechClassifier.h"
#include "speech/SystemAudioTap.h"
#include "speech/VoiceGate.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

constexpr int kDeviceChannels = 2;

// One second of speech as the server delivers a stereo device: interleaved, at `rate`.
QList<float> deviceSecond(int rate)
{
    static const QList<float> speech = [] {
        TestSound sound;
        QList<float> speech = TestSound::samples(sound.speech(QStringLiteral(
            "Good morning everyone, today we will talk about the quarterly results.")));
        if (speech.size() < 16000) {
            // Without espeak-ng: a tone pulsing at syllable rate keeps the path busy alike.
            speech.resize(16000);
            for (qsizetype i = 0; i < speech.size(); ++i)
                speech[i] = float(0.3 * std::sin(2 * M_PI * 220 * i / 16000.0)
                                  * (0.5 + 0.5 * std::sin(2 * M_PI * 4 * i / 16000.0)));
        }
        return speech;
    }();
    QList<float> out(qsizetype(rate) * kDeviceChannels);
    for (qsizetype n = 0; n < rate; ++n) {
        const float x = speech[std::min(speech.size() - 1, n * 16000 / rate)];
        out[n * 2] = x;
        out[n * 2 + 1] = x;
    }
    return out;
}

// 20 ms buffers.
qsizetype bufferFrames(int rate)
{
    return rate / 50;
}

QList<PcmBuffer> convertedSecond()
{
    std::unique_ptr<AudioConverter> converter = AudioConverter::create(
        16000, kDeviceChannels, AudioConverter::ChannelMix::average, SystemAudioTap::outputFormat());
    QList<PcmBuffer> buffers;
    const QList<float> audio = deviceSecond(16000);
    for (qsizetype n = 0; n < 16000; n += bufferFrames(16000))
        buffers.append(converter->convert(audio.constData() + n * kDeviceChannels, bufferFrames(16000)));
    return buffers;
}

void setRealtime(benchmark::State &state)
{
    // One iteration is one second of audio.
    state.counters["realtime"] = benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Conversion(benchmark::State &state)
{
    const int rate = int(state.range(0));
    std::unique_ptr<AudioConverter> converter = AudioConverter::create(
        rate, kDeviceChannels, AudioConverter::ChannelMix::average, SystemAudioTap::outputFormat());
    const QList<float> audio = deviceSecond(rate);
    const qsizetype frames = bufferFrames(rate);
    for (auto _ : state) {
        for (qsizetype n = 0; n < rate; n += frames) {
            PcmBuffer buffer = converter->convert(audio.constData() + n * kDeviceChannels, frames);
            benchmark::DoNotOptimize(buffer);
        }
    }
    setRealtime(state);
}
BENCHMARK(BM_Conversion)->ArgName("rate")->Arg(16000)->Arg(48000);

void BM_LevelAndGate(benchmark::State &state)
{
    const QList<PcmBuffer> buffers = convertedSecond();
    VoiceGate gate;
    double now = 0;
    for (auto _ : state) {
        for (const PcmBuffer &buffer : buffers) {
            benchmark::DoNotOptimize(VoiceGate::levelDB(buffer.samples()));
            benchmark::DoNotOptimize(gate.process(buffer.samples(), now));
            now += 0.02;
        }
    }
    setRealtime(state);
}
BENCHMARK(BM_LevelAndGate);

void BM_Classifier(benchmark::State &state)
{
    const QList<PcmBuffer> buffers = convertedSecond();
    std::unique_ptr<SpeechClassifier> classifier = SpeechClassifier::create(SystemAudioTap::outputFormat());
    int confirmations = 0;
    classifier->onSpeech = [&confirmations] { ++confirmations; };
    for (auto _ : state) {
        for (const PcmBuffer &buffer : buffers) {
            classifier->analyzer().analyze(buffer, classifier->framePosition);
            classifier->framePosition += buffer.frameLength();
        }
    }
    benchmark::DoNotOptimize(confirmations);
    setRealtime(state);
}
BENCHMARK(BM_Classifier);

void BM_Mixing(benchmark::State &state)
{
    const QList<PcmBuffer> buffers = convertedSecond();
    AudioMixer mixer;
    for (auto _ : state) {
        for (const PcmBuffer &buffer : buffers) {
            benchmark::DoNotOptimize(mixer.push(buffer.samples(), AudioMixer::Input::system));
            benchmark::DoNotOptimize(mixer.push(buffer.samples(), AudioMixer::Input::microphone));
        }
    }
    setRealtime(state);
}
BENCHMARK(BM_Mixing);

// Everything for one second, as the "both" source runs it: two conversions, the mixer, then
// classifier, level and gate on the mixed stream.
void BM_WholePath(benchmark::State &state)
{
    const bool both = state.range(0) != 0;
    const QList<float> audio = deviceSecond(16000);
    const qsizetype frames = bufferFrames(16000);
    std::unique_ptr<AudioConverter> system = AudioConverter::create(
        16000, kDeviceChannels, AudioConverter::ChannelMix::average, SystemAudioTap::outputFormat());
    std::unique_ptr<AudioConverter> microphone = AudioConverter::create(
        16000, kDeviceChannels, AudioConverter::ChannelMix::firstChannel, SystemAudioTap::outputFormat());
    std::unique_ptr<SpeechClassifier> classifier = SpeechClassifier::create(SystemAudioTap::outputFormat());
    AudioMixer mixer;
    VoiceGate gate;
    double now = 0;
    qint64 sent = 0;
    classifier->onSpeech = [&] { gate.noteSpeech(now); };

    auto handle = [&](const QList<float> &samples) {
        const PcmBuffer buffer(SystemAudioTap::outputFormat(), samples);
        classifier->analyzer().analyze(buffer, classifier->framePosition);
        classifier->framePosition += buffer.frameLength();
        benchmark::DoNotOptimize(VoiceGate::levelDB(samples));
        if (std::optional<QList<float>> out = gate.process(samples, now))
            sent += out->size();
    };

    for (auto _ : state) {
        for (qsizetype n = 0; n < 16000; n += frames) {
            const float *input = audio.constData() + n * kDeviceChannels;
            const PcmBuffer fromSystem = system->convert(input, frames);
            if (!both) {
                handle(fromSystem.samples());
            } else {
                const PcmBuffer fromMicrophone = microphone->convert(input, frames);
                const QList<float> first = mixer.push(fromSystem.samples(), AudioMixer::Input::system);
                if (!first.isEmpty())
                    handle(first);
                const QList<float> second = mixer.push(fromMicrophone.samples(), AudioMixer::Input::microphone);
                if (!second.isEmpty())
                    handle(second);
            }
            now += 0.02;
        }
    }
    benchmark::DoNotOptimize(sent);
    setRealtime(state);
}
BENCHMARK(BM_WholePath)->ArgName("both")->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
