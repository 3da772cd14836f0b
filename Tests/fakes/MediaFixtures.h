#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// Media inputs made at test time, so no media file is kept in the repository: espeak-ng speech
// as WAV, re-encoded through FFmpeg into other containers (MP3, MP4 with a video track, MKV with
// Opus, a video-only MP4), and a decoder that measures what an output file holds.
class MediaFixtures final {
public:
    MediaFixtures() = delete;

    struct Pcm {
        int rate = 0;
        int channels = 0;
        QList<int16_t> samples; // interleaved
        double seconds() const { return rate && channels ? double(samples.size()) / channels / rate : 0; }
    };

    struct Encoding {
        QByteArray container;    // FFmpeg muxer name: "mp3", "mp4", "matroska", "wav"
        QByteArray audioEncoder; // "libmp3lame", "aac", "libopus", "pcm_s16le"; empty for none
        int rate = 0;            // output sample rate; 0 keeps the source's
        int channels = 0;        // 0 keeps the source's
        int bitRate = 0;
        bool video = false;      // add a small grey MPEG-4 video track
        double videoSeconds = 0; // video-only files: their length
    };

    struct Probe {
        int rate = 0;
        int channels = 0;
        double seconds = 0;  // decoded samples / rate
        QByteArray codec;
        QByteArray brand;    // the MP4 major brand, when there is one
        bool hasVideo = false;
    };

    // Speech spoken by espeak-ng (22.05 kHz mono WAV); an empty string when espeak-ng failed.
    static QString speechWav(const QString &path, const QString &text);
    static std::optional<Pcm> readWav(const QString &path);
    // Hands out the next interleaved frames of a sound (at most `frames`); 0 at its end.
    using Source = std::function<qsizetype(int16_t *out, qsizetype frames)>;
    // The speech repeated with half-second pauses for `seconds`, at `rate` with `channels`,
    // made as it is read, so an hour never sits in memory.
    static Source loop(const Pcm &speech, double seconds, int rate, int channels);

    static bool write(const QString &path, const Pcm &pcm, const Encoding &encoding);
    static bool write(const QString &path, int rate, int channels, const Source &source,
                      const Encoding &encoding);
    static std::optional<Probe> probe(const QString &path);
};
