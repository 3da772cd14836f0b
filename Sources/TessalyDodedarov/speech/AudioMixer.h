#pragma once

#include <QList>

// Joins the system-output stream and the microphone stream into one for the "both" source.
// Samples of one input wait for the other's at the same position and are added, clamped to
// -1 ... 1; a lone stream is let through unmixed once more than `maxWait` samples queue up, so a
// silent or stalled source cannot hold the other back. Used only on the engine's queue.
class AudioMixer final {
public:
    enum class Input { system, microphone };

    // Returns what can be sent now (possibly nothing).
    QList<float> push(const QList<float> &samples, Input from);

    QList<float> system;      // waiting for microphone partners
    QList<float> microphone;  // waiting for system partners
    static constexpr qsizetype maxWait = 4800;  // 0.3 s at 16 kHz
};
