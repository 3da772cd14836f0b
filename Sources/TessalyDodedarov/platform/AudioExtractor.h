#pragma once

#include <QString>

#include <atomic>
#include <optional>

// Takes the sound out of an audio or video file for the batch recogniser: the best audio
// stream, decoded, resampled to 16 kHz mono and encoded as 64 kbit/s AAC in an M4A file named
// "audio.m4a". 16 kHz mono is what the live path already sends, and at that rate the fast AAC
// coder keeps speech intact while running far faster than realtime. Blocking; call it off the
// main thread. FFmpeg stays inside the .cpp.
class AudioExtractor final {
public:
    AudioExtractor() = delete;

    struct Result {
        QString path;         // folder + "/audio.m4a"
        double duration = 0;  // seconds of the source container
    };

    // Nothing when the file has no audio stream or cannot be read or encoded, or when
    // `cancelled` became true (checked between packets); no file is left behind then.
    static std::optional<Result> extract(const QString &source, const QString &folder,
                                         const std::atomic_bool &cancelled);

    static inline const QString fileName = QStringLiteral("audio.m4a");
};
