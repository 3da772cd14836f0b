#pragma once

#include "platform/PcmBuffer.h"

#include <memory>

// Classifies a stream of 16 kHz mono audio in windows and tells its observers how sure it is
// that each window holds speech. Behind it: WebRTC's voice activity detection on 10 ms frames,
// which alone calls any loud steady sound voice, combined with our own discriminator on the
// same frames (syllable-rate modulation of the frame energy, spectral flatness and its spread),
// which tells speech from tones, chords, music and noise.
// Used on one thread at a time; observers are called from within analyze().
class SoundAnalyzer final {
public:
    struct Classification {
        qint64 windowStart = 0;   // frame position of the window's first frame
        qint64 windowLength = 0;  // frames
        double speechConfidence = 0;  // 0 ... 1
    };

    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void resultProduced(const Classification &result) = 0;
    };

    // Nothing when the format is not 16 kHz mono float or the voice detector cannot be made.
    static std::unique_ptr<SoundAnalyzer> create(const AudioFormat &format);
    ~SoundAnalyzer();

    SoundAnalyzer(const SoundAnalyzer &) = delete;
    SoundAnalyzer &operator=(const SoundAnalyzer &) = delete;

    // Adds a speech classification in windows of `windowDuration` seconds, each starting
    // (1 − overlapFactor) of a window after the previous one. False when the request cannot be
    // served (a window shorter than 0.1 s or longer than 10 s, an overlap outside 0 ... 0.9).
    bool addRequest(double windowDuration, double overlapFactor, Observer *observer);
    void removeAllRequests();

    // Analyses a buffer that starts at `framePosition`. A position that does not continue the
    // previous buffer starts the analysis afresh.
    void analyze(const PcmBuffer &buffer, qint64 framePosition);

private:
    struct Private;
    explicit SoundAnalyzer(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};
