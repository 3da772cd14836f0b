#pragma once

#include <optional>
#include <vector>

// Recent intervals of loud voice, built from the level of every captured buffer, so that the
// model can tell when the speaker last stopped before a caption arrived (recognition latency).
// A plain value: the engine owns one and guards it with its own lock; it is not thread-safe.
struct VoiceTimeline final {
    struct Interval {
        double start = 0;
        double end = 0; // the last loud moment of the interval
    };

    float floorDB = -50.0f;
    float dropDB = 20.0f;
    double quietConfirm = 0.25;
    double lookback = 10.0;
    std::vector<Interval> intervals; // oldest first
    std::optional<double> openStart;
    double lastLoudAt = 0;
    float peak = -120.0f;
    std::optional<double> lastFeed;

    // One level reading (dB) at `time` (uptime seconds).
    void feed(float level, double time);
    // When the speaker last stopped before `time`, if that was within `lookback` seconds.
    std::optional<double> stopped(double before) const;
};
