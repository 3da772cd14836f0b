// The sound extraction with FFmpeg, built as a module of its own that the application loads on
// the first import (platform/AudioExtractor): FFmpeg's decoders and their libraries are mapped
// only by an application that imports a file.
#include "platform/AudioExtractor.h"

#include <QDir>
#include <QFile>

#include <memory>
#include <cstdarg>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

constexpr int outputRate = 16000;
constexpr int outputBitRate = 64000;

struct InputCloser {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct OutputCloser {
    void operator()(AVFormatContext *context) const
    {
        if (context->pb)
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
struct CodecCloser {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct ResamplerCloser {
    void operator()(SwrContext *context) const { swr_free(&context); }
};
struct FifoCloser {
    void operator()(AVAudioFifo *fifo) const { av_audio_fifo_free(fifo); }
};
struct FrameCloser {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct PacketCloser {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct DictionaryCloser {
    void operator()(AVDictionary *dictionary) const { av_dict_free(&dictionary); }
};

using Input = std::unique_ptr<AVFormatContext, InputCloser>;
using Output = std::unique_ptr<AVFormatContext, OutputCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecCloser>;
using Resampler = std::unique_ptr<SwrContext, ResamplerCloser>;
using Fifo = std::unique_ptr<AVAudioFifo, FifoCloser>;
using Frame = std::unique_ptr<AVFrame, FrameCloser>;
using Packet = std::unique_ptr<AVPacket, PacketCloser>;

// One extraction: the decoder, resampler, encoder and muxer in a row.
class Pipeline {
public:
    Pipeline(const std::atomic_bool &cancelled) : m_cancelled(cancelled) {}

    bool open(const QString &source, const QString &target);
    bool run();
    double duration() const;

private:
    bool openEncoder(const QString &target);
    bool decodeAvailable();
    bool pushResampled(const uint8_t *const *data, int samples);
    bool encodeFrom(bool drain);
    bool encode(AVFrame *frame);

    const std::atomic_bool &m_cancelled;
    Input m_input;
    Output m_output;
    Codec m_decoder;
    Codec m_encoder;
    Resampler m_resampler;
    Fifo m_fifo;
    Frame m_decoded{av_frame_alloc()};
    Frame m_encodeFrame{av_frame_alloc()};
    Packet m_packet{av_packet_alloc()};
    Packet m_encoded{av_packet_alloc()};
    AVStream *m_outStream = nullptr;
    int m_streamIndex = -1;
    int64_t m_nextPts = 0;
    uint8_t **m_convertBuffer = nullptr;
    int m_convertCapacity = 0;

public:
    ~Pipeline()
    {
        if (m_convertBuffer)
            av_freep(&m_convertBuffer[0]);
        av_freep(&m_convertBuffer);
    }
};

bool Pipeline::open(const QString &source, const QString &target)
{
    if (!m_decoded || !m_encodeFrame || !m_packet || !m_encoded)
        return false;
    AVFormatContext *input = nullptr;
    if (avformat_open_input(&input, QFile::encodeName(source).constData(), nullptr, nullptr) < 0)
        return false;
    m_input.reset(input);
    if (avformat_find_stream_info(input, nullptr) < 0)
        return false;
    const AVCodec *decoder = nullptr;
    m_streamIndex = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (m_streamIndex < 0 || !decoder)
        return false;
    m_decoder.reset(avcodec_alloc_context3(decoder));
    if (!m_decoder
        || avcodec_parameters_to_context(m_decoder.get(), input->streams[m_streamIndex]->codecpar) < 0)
        return false;
    m_decoder->thread_count = 1;
    if (avcodec_open2(m_decoder.get(), decoder, nullptr) < 0)
        return false;
    return openEncoder(target);
}

bool Pipeline::openEncoder(const QString &target)
{
    const AVCodec *aac = avcodec_find_encoder_by_name("aac");
    if (!aac)
        return false;
    AVFormatContext *output = nullptr;
    if (avformat_alloc_output_context2(&output, nullptr, "mp4", nullptr) < 0 || !output)
        return false;
    m_output.reset(output);

    m_encoder.reset(avcodec_alloc_context3(aac));
    if (!m_encoder)
        return false;
    AVCodecContext *encoder = m_encoder.get();
    encoder->sample_rate = outputRate;
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->bit_rate = outputBitRate;
    encoder->thread_count = 1;
    encoder->time_base = AVRational{1, outputRate};
    av_channel_layout_default(&encoder->ch_layout, 1);
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *options = nullptr;
    av_dict_set(&options, "aac_coder", "fast", 0);
    const int opened = avcodec_open2(encoder, aac, &options);
    av_dict_free(&options);
    if (opened < 0)
        return false;

    m_outStream = avformat_new_stream(output, nullptr);
    if (!m_outStream || avcodec_parameters_from_context(m_outStream->codecpar, encoder) < 0)
        return false;
    m_outStream->time_base = encoder->time_base;

    AVChannelLayout inputLayout{};
    if (m_decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || m_decoder->ch_layout.nb_channels == 0)
        av_channel_layout_default(&inputLayout, std::max(1, m_decoder->ch_layout.nb_channels));
    else if (av_channel_layout_copy(&inputLayout, &m_decoder->ch_layout) < 0)
        return false;
    SwrContext *resampler = nullptr;
    const int allocated = swr_alloc_set_opts2(&resampler, &encoder->ch_layout, encoder->sample_fmt,
                                              outputRate, &inputLayout, m_decoder->sample_fmt,
                                              m_decoder->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    if (allocated < 0 || !resampler)
        return false;
    m_resampler.reset(resampler);
    if (swr_init(resampler) < 0)
        return false;
    m_fifo.reset(av_audio_fifo_alloc(encoder->sample_fmt, 1, std::max(encoder->frame_size, 1024)));
    if (!m_fifo)
        return false;

    if (avio_open(&output->pb, QFile::encodeName(target).constData(), AVIO_FLAG_WRITE) < 0)
        return false;
    AVDictionary *muxOptions = nullptr;
    av_dict_set(&muxOptions, "brand", "M4A ", 0);
    const int header = avformat_write_header(output, &muxOptions);
    av_dict_free(&muxOptions);
    return header >= 0;
}

bool Pipeline::pushResampled(const uint8_t *const *data, int samples)
{
    const int capacity = swr_get_out_samples(m_resampler.get(), samples);
    if (capacity < 0)
        return false;
    if (capacity > m_convertCapacity) {
        if (m_convertBuffer)
            av_freep(&m_convertBuffer[0]);
        av_freep(&m_convertBuffer);
        if (av_samples_alloc_array_and_samples(&m_convertBuffer, nullptr, 1, capacity,
                                               AV_SAMPLE_FMT_FLTP, 0) < 0)
            return false;
        m_convertCapacity = capacity;
    }
    const int converted = swr_convert(m_resampler.get(), m_convertBuffer, m_convertCapacity,
                                      const_cast<const uint8_t **>(data), samples);
    if (converted < 0)
        return false;
    if (converted > 0
        && av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void **>(m_convertBuffer), converted) < converted)
        return false;
    return true;
}

bool Pipeline::encode(AVFrame *frame)
{
    if (avcodec_send_frame(m_encoder.get(), frame) < 0)
        return false;
    for (;;) {
        const int received = avcodec_receive_packet(m_encoder.get(), m_encoded.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return true;
        if (received < 0)
            return false;
        av_packet_rescale_ts(m_encoded.get(), m_encoder->time_base, m_outStream->time_base);
        m_encoded->stream_index = m_outStream->index;
        if (av_interleaved_write_frame(m_output.get(), m_encoded.get()) < 0)
            return false;
    }
}

// Hands the encoder whole frames from the queue; with `drain`, the short last one as well.
bool Pipeline::encodeFrom(bool drain)
{
    const int frameSize = m_encoder->frame_size > 0 ? m_encoder->frame_size : 1024;
    while (av_audio_fifo_size(m_fifo.get()) >= frameSize
           || (drain && av_audio_fifo_size(m_fifo.get()) > 0)) {
        const int samples = std::min(frameSize, av_audio_fifo_size(m_fifo.get()));
        AVFrame *frame = m_encodeFrame.get();
        av_frame_unref(frame);
        frame->nb_samples = samples;
        frame->format = m_encoder->sample_fmt;
        frame->sample_rate = outputRate;
        if (av_channel_layout_copy(&frame->ch_layout, &m_encoder->ch_layout) < 0
            || av_frame_get_buffer(frame, 0) < 0)
            return false;
        if (av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void **>(frame->data), samples) < samples)
            return false;
        frame->pts = m_nextPts;
        m_nextPts += samples;
        if (!encode(frame))
            return false;
    }
    return true;
}

bool Pipeline::decodeAvailable()
{
    for (;;) {
        const int received = avcodec_receive_frame(m_decoder.get(), m_decoded.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return true;
        if (received < 0)
            return true; // a broken frame is skipped like a broken packet
        const bool pushed = pushResampled(m_decoded->extended_data, m_decoded->nb_samples);
        av_frame_unref(m_decoded.get());
        if (!pushed || !encodeFrom(false))
            return false;
    }
}

bool Pipeline::run()
{
    AVPacket *packet = m_packet.get();
    for (;;) {
        if (m_cancelled.load(std::memory_order_relaxed))
            return false;
        const int read = av_read_frame(m_input.get(), packet);
        if (read == AVERROR_EOF)
            break;
        if (read < 0) {
            // A read error other than the end: take what was decoded so far, as the end.
            if (read == AVERROR(EAGAIN))
                continue;
            break;
        }
        if (packet->stream_index == m_streamIndex) {
            // A packet the decoder refuses is skipped; the rest of the file still counts.
            if (avcodec_send_packet(m_decoder.get(), packet) >= 0 && !decodeAvailable()) {
                av_packet_unref(packet);
                return false;
            }
        }
        av_packet_unref(packet);
    }
    if (avcodec_send_packet(m_decoder.get(), nullptr) >= 0 && !decodeAvailable())
        return false;
    if (!pushResampled(nullptr, 0) || !encodeFrom(true) || !encode(nullptr))
        return false;
    if (m_nextPts == 0)
        return false; // nothing decodable: no sound to send
    return av_write_trailer(m_output.get()) >= 0;
}

double Pipeline::duration() const
{
    if (m_input->duration != AV_NOPTS_VALUE && m_input->duration > 0)
        return double(m_input->duration) / AV_TIME_BASE;
    const AVStream *stream = m_input->streams[m_streamIndex];
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return double(stream->duration) * av_q2d(stream->time_base);
    return 0;
}

void discardLog(void *, int, const char *, va_list)
{
}

} // namespace

extern "C" Q_DECL_EXPORT bool dodedarov_extract_audio(const QString &source, const QString &folder,
                                                      const std::atomic_bool &cancelled, QString &path,
                                                      double &duration)
{
    static std::once_flag quiet;
    // FFmpeg writes its complaints about a file ("moov atom not found" for a cut recording) to
    // the process's stderr, which nobody reads; the user learns of an unreadable file from the
    // importer's own message. Its log goes nowhere, whatever level anyone sets.
    std::call_once(quiet, [] { av_log_set_callback(&discardLog); });

    const QString target = QDir(folder).filePath(AudioExtractor::fileName);
    bool done = false;
    {
        Pipeline pipeline(cancelled);
        if (pipeline.open(source, target) && pipeline.run()) {
            done = true;
            path = target;
            duration = pipeline.duration();
        }
    } // the muxer closes the file here
    if (!done)
        QFile::remove(target);
    return done;
}
