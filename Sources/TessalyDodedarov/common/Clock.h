#pragma once

#include <functional>

// Monotonic uptime in seconds, the only time base of the pipeline. Tests replace `source`
// to advance time without sleeping; the wall clock is used only for caption times and files.
class Clock final {
public:
    static double systemUptime();
    static double uptime() { return source ? source() : systemUptime(); }
    static void reset() { source = &Clock::systemUptime; }

    static inline std::function<double()> source = &Clock::systemUptime;
};
