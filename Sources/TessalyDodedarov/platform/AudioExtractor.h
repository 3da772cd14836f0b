#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

// Takes the sound out of an audio or video file for the batch recogniser: the best audio
// stream, decoded, resampled to 16 kHz mono and encoded as 64 kbit/s AAC in an M4A file named
// "audio.m4a". 16 kHz mono is what the live path already sends, and at that rate the fast AAC
// coder keeps speech intact while running far faster than realtime. Blocking; call it off the
// main thread. FFmpeg lives in a module of its own ("libtessaly-dodedarov-extractor.so", in
// lib/tessaly-dodedarov beside the installed application), loaded on the first extraction, so an
// application that never imports a file never maps FFmpeg's decoders.
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

    // Why the module cannot be used (a message for the user), or nothing when it can. Loads
    // it on the first call; blocking.
    static std::optional<QString> unavailable();

    static inline const QString fileName = QStringLiteral("audio.m4a");
    static inline const QString moduleName = QStringLiteral("libtessaly-dodedarov-extractor.so");
    // Where the module is looked for, in order: installed beside the application, then the
    // build tree's. Tests replace the list.
    static QStringList modulePaths();
    static inline QStringList modulePathsOverride;
};
