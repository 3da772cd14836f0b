#include "speech/VoiceTimeline.h"

#include <algorithm>

namespace {
// Closed intervals older than this are of no use to any latency question.
constexpr double keepSeconds = 120.0;
constexpr float decayPerSecond = 6.0f;
}

void VoiceTimeline::feed(float level, double time)
{
    float decayed = peak;
    if (lastFeed)
        decayed = peak - decayPerSecond * static_cast<float>(std::max(0.0, time - *lastFeed));
    lastFeed = time;
    peak = std::max(decayed, level);

    const float threshold = std::max(floorDB, peak - dropDB);
    if (level > threshold) {
        if (!openStart)
            openStart = time;
        lastLoudAt = time;
        return;
    }
    if (openStart && time - lastLoudAt >= quietConfirm) {
        intervals.push_back({*openStart, lastLoudAt});
        openStart.reset();
        // Pruned only when an interval closes: between closes nothing new could age out
        // that a question would care about.
        std::erase_if(intervals, [time](const Interval &i) { return time - i.end > keepSeconds; });
    }
}

std::optional<double> VoiceTimeline::stopped(double before) const
{
    if (openStart && *openStart <= before)
        return std::nullopt;
    const Interval *latest = nullptr;
    for (const Interval &i : intervals) {
        if (i.start <= before && i.end > before)
            return std::nullopt;
        if (i.end <= before && (!latest || i.end >= latest->end))
            latest = &i;
    }
    if (latest && before - latest->end <= lookback)
        return latest->end;
    return std::nullopt;
}
