#include "MediaFixtures.h"

#include <QFile>
#include <QProcess>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
}

namespace {

struct Cleanup {
    AVFormatContext *output = nullptr;
    AVCodecContext *audio = nullptr;
    AVCodecContext *video = nullptr;
    SwrContext *resampler = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    AVAudioFifo *fifo = nullptr;
    ~Cleanup()
    {
        if (fifo)
            av_audio_fifo_free(fifo);
        if (output) {
            if (output->pb)
                avio_closep(&output->pb);
            avformat_free_context(output);
        }
        avcodec_free_context(&audio);
        avcodec_free_context(&video);
        swr_free(&resampler);
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
};

bool drain(AVCodecContext *codec, AVStream *stream, AVFormatContext *output, AVPacket *packet,
           const AVFrame *frame)
{
    if (avcodec_send_frame(codec, frame) < 0)
        return false;
    for (;;) {
        const int got = avcodec_receive_packet(codec, packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return true;
        if (got < 0)
            return false;
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (av_interleaved_write_frame(output, packet) < 0)
            return false;
    }
}

} // namespace

QString MediaFixtures::speechWav(const QString &path, const QString &text)
{
    QProcess espeak;
    espeak.start(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), path, text});
    if (!espeak.waitForFinished(60000) || espeak.exitCode() != 0 || !QFile::exists(path))
        return {};
    return path;
}

std::optional<MediaFixtures::Pcm> MediaFixtures::readWav(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return std::nullopt;
    Pcm pcm;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        quint32 size = 0;
        std::memcpy(&size, bytes.constData() + at + 4, 4);
        const qsizetype body = at + 8;
        if (id == "fmt ") {
            quint16 channels = 0;
            quint32 rate = 0;
            std::memcpy(&channels, bytes.constData() + body + 2, 2);
            std::memcpy(&rate, bytes.constData() + body + 4, 4);
            pcm.channels = channels;
            pcm.rate = int(rate);
        } else if (id == "data") {
            // espeak-ng streams to the file and may leave the size unset: take what is there.
            const qsizetype available = std::min<qsizetype>(size, bytes.size() - body);
            pcm.samples.resize(available / 2);
            std::memcpy(pcm.samples.data(), bytes.constData() + body, size_t(pcm.samples.size()) * 2);
            break;
        }
        at = body + size + (size & 1);
    }
    if (!pcm.rate || !pcm.channels || pcm.samples.isEmpty())
        return std::nullopt;
    return pcm;
}

MediaFixtures::Source MediaFixtures::loop(const Pcm &speech, double seconds, int rate, int channels)
{
    // Resampled by nearest sample: good enough for a benchmark input.
    const qsizetype total = qsizetype(std::ceil(seconds * rate));
    const qsizetype sourceFrames = speech.samples.size() / speech.channels;
    const qsizetype pause = rate / 2;
    const qsizetype period = qsizetype(double(sourceFrames) * rate / speech.rate) + pause;
    auto at = std::make_shared<qsizetype>(0);
    return [=](int16_t *out, qsizetype frames) -> qsizetype {
        const qsizetype n = std::min(frames, total - *at);
        for (qsizetype i = 0; i < n; ++i) {
            const qsizetype inPeriod = (*at + i) % period;
            int16_t value = 0;
            if (inPeriod < period - pause) {
                const qsizetype from = std::min(sourceFrames - 1, qsizetype(double(inPeriod) * speech.rate / rate));
                value = speech.samples.at(from * speech.channels);
            }
            for (int c = 0; c < channels; ++c)
                out[i * channels + c] = value;
        }
        *at += n;
        return n;
    };
}

bool MediaFixtures::write(const QString &path, const Pcm &pcm, const Encoding &encoding)
{
    auto at = std::make_shared<qsizetype>(0);
    const Source source = [&pcm, at](int16_t *out, qsizetype frames) -> qsizetype {
        const qsizetype available = pcm.channels ? pcm.samples.size() / pcm.channels - *at : 0;
        const qsizetype n = std::min(frames, available);
        std::memcpy(out, pcm.samples.constData() + *at * pcm.channels, size_t(n * pcm.channels) * 2);
        *at += n;
        return n;
    };
    return write(path, pcm.rate ? pcm.rate : 16000, pcm.channels ? pcm.channels : 1, source, encoding);
}

bool MediaFixtures::write(const QString &path, int rate, int channels, const Source &source,
                          const Encoding &encoding)
{
    av_log_set_level(AV_LOG_ERROR);
    Cleanup c;
    if (avformat_alloc_output_context2(&c.output, nullptr, encoding.container.constData(), nullptr) < 0)
        return false;
    c.packet = av_packet_alloc();
    c.frame = av_frame_alloc();
    AVStream *audioStream = nullptr;
    AVStream *videoStream = nullptr;
    const bool withAudio = !encoding.audioEncoder.isEmpty();
    if (withAudio) {
        const AVCodec *codec = avcodec_find_encoder_by_name(encoding.audioEncoder.constData());
        if (!codec)
            return false;
        c.audio = avcodec_alloc_context3(codec);
        c.audio->sample_rate = encoding.rate ? encoding.rate : rate;
        av_channel_layout_default(&c.audio->ch_layout, encoding.channels ? encoding.channels : channels);
        c.audio->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        c.audio->bit_rate = encoding.bitRate;
        c.audio->time_base = AVRational{1, c.audio->sample_rate};
        if (c.output->oformat->flags & AVFMT_GLOBALHEADER)
            c.audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(c.audio, codec, nullptr) < 0)
            return false;
        audioStream = avformat_new_stream(c.output, nullptr);
        avcodec_parameters_from_context(audioStream->codecpar, c.audio);
        audioStream->time_base = c.audio->time_base;
        AVChannelLayout inLayout{};
        av_channel_layout_default(&inLayout, channels);
        if (swr_alloc_set_opts2(&c.resampler, &c.audio->ch_layout, c.audio->sample_fmt, c.audio->sample_rate,
                                &inLayout, AV_SAMPLE_FMT_S16, rate, 0, nullptr) < 0
            || swr_init(c.resampler) < 0)
            return false;
        c.fifo = av_audio_fifo_alloc(c.audio->sample_fmt, c.audio->ch_layout.nb_channels, 8192);
    }
    if (encoding.video) {
        const AVCodec *codec = avcodec_find_encoder_by_name("mpeg4");
        if (!codec)
            return false;
        c.video = avcodec_alloc_context3(codec);
        c.video->width = 64;
        c.video->height = 48;
        c.video->pix_fmt = AV_PIX_FMT_YUV420P;
        c.video->time_base = AVRational{1, 10};
        c.video->framerate = AVRational{10, 1};
        c.video->bit_rate = 100000;
        if (c.output->oformat->flags & AVFMT_GLOBALHEADER)
            c.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(c.video, codec, nullptr) < 0)
            return false;
        videoStream = avformat_new_stream(c.output, nullptr);
        avcodec_parameters_from_context(videoStream->codecpar, c.video);
        videoStream->time_base = c.video->time_base;
    }
    if (avio_open(&c.output->pb, QFile::encodeName(path).constData(), AVIO_FLAG_WRITE) < 0
        || avformat_write_header(c.output, nullptr) < 0)
        return false;

    const int frameSize = withAudio && c.audio->frame_size > 0 ? c.audio->frame_size : 1024;
    int64_t audioPts = 0;
    int videoFrame = 0;
    const auto writeVideoUntil = [&](double seconds) {
        while (encoding.video && videoFrame / 10.0 < seconds) {
            AVFrame *frame = c.frame;
            av_frame_unref(frame);
            frame->format = c.video->pix_fmt;
            frame->width = c.video->width;
            frame->height = c.video->height;
            if (av_frame_get_buffer(frame, 0) < 0)
                return false;
            for (int plane = 0; plane < 3; ++plane)
                std::memset(frame->data[plane], plane ? 128 : 16 + (videoFrame * 7) % 200,
                            size_t(frame->linesize[plane]) * (plane ? c.video->height / 2 : c.video->height));
            frame->pts = videoFrame++;
            if (!drain(c.video, videoStream, c.output, c.packet, frame))
                return false;
        }
        return true;
    };
    const auto encodeAudio = [&](bool all) {
        while (av_audio_fifo_size(c.fifo) >= frameSize || (all && av_audio_fifo_size(c.fifo) > 0)) {
            const int n = std::min(frameSize, av_audio_fifo_size(c.fifo));
            if (!writeVideoUntil(double(audioPts) / c.audio->sample_rate))
                return false;
            AVFrame *frame = c.frame;
            av_frame_unref(frame);
            frame->nb_samples = n;
            frame->format = c.audio->sample_fmt;
            frame->sample_rate = c.audio->sample_rate;
            av_channel_layout_copy(&frame->ch_layout, &c.audio->ch_layout);
            if (av_frame_get_buffer(frame, 0) < 0
                || av_audio_fifo_read(c.fifo, reinterpret_cast<void **>(frame->data), n) < n)
                return false;
            frame->pts = audioPts;
            audioPts += n;
            if (!drain(c.audio, audioStream, c.output, c.packet, frame))
                return false;
        }
        return true;
    };

    bool ok = true;
    if (withAudio) {
        constexpr int chunk = 4096;
        std::vector<int16_t> input(size_t(chunk) * channels);
        uint8_t **converted = nullptr;
        const int capacity = swr_get_out_samples(c.resampler, chunk) + 256;
        av_samples_alloc_array_and_samples(&converted, nullptr, c.audio->ch_layout.nb_channels, capacity,
                                           c.audio->sample_fmt, 0);
        for (;;) {
            const qsizetype frames = source(input.data(), chunk);
            const uint8_t *in[] = {reinterpret_cast<const uint8_t *>(input.data())};
            const int out = frames > 0 ? swr_convert(c.resampler, converted, capacity, in, int(frames))
                                       : swr_convert(c.resampler, converted, capacity, nullptr, 0);
            if (out < 0 || av_audio_fifo_write(c.fifo, reinterpret_cast<void **>(converted), out) < out) {
                ok = false;
                break;
            }
            if (!encodeAudio(frames == 0)) {
                ok = false;
                break;
            }
            if (frames == 0)
                break;
        }
        av_freep(&converted[0]);
        av_freep(&converted);
        ok = ok && writeVideoUntil(double(audioPts) / c.audio->sample_rate)
            && drain(c.audio, audioStream, c.output, c.packet, nullptr);
    } else {
        ok = writeVideoUntil(encoding.videoSeconds);
    }
    if (ok && encoding.video)
        ok = drain(c.video, videoStream, c.output, c.packet, nullptr);
    return ok && av_write_trailer(c.output) >= 0;
}

std::optional<MediaFixtures::Probe> MediaFixtures::probe(const QString &path)
{
    av_log_set_level(AV_LOG_ERROR);
    AVFormatContext *input = nullptr;
    if (avformat_open_input(&input, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return std::nullopt;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext *)> closer(
        input, [](AVFormatContext *context) { avformat_close_input(&context); });
    if (avformat_find_stream_info(input, nullptr) < 0)
        return std::nullopt;
    Probe probe;
    for (unsigned i = 0; i < input->nb_streams; ++i)
        probe.hasVideo |= input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    if (const AVDictionaryEntry *brand = av_dict_get(input->metadata, "major_brand", nullptr, 0))
        probe.brand = brand->value;
    const AVCodec *decoder = nullptr;
    const int index = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (index < 0)
        return probe;
    AVCodecContext *codec = avcodec_alloc_context3(decoder);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext *)> codecCloser(
        codec, [](AVCodecContext *context) { avcodec_free_context(&context); });
    avcodec_parameters_to_context(codec, input->streams[index]->codecpar);
    if (avcodec_open2(codec, decoder, nullptr) < 0)
        return std::nullopt;
    probe.codec = decoder->name;
    probe.rate = codec->sample_rate;
    probe.channels = codec->ch_layout.nb_channels;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    qint64 samples = 0;
    const auto receive = [&] {
        while (avcodec_receive_frame(codec, frame) >= 0) {
            samples += frame->nb_samples;
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(input, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(codec, packet) >= 0)
            receive();
        av_packet_unref(packet);
    }
    avcodec_send_packet(codec, nullptr);
    receive();
    av_packet_free(&packet);
    av_frame_free(&frame);
    probe.seconds = probe.rate ? double(samples) / probe.rate : 0;
    return probe;
}
