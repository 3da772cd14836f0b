#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

// The nearest-rank percentile of the samples, `p` from 0 to 1; -1 when there are none.
inline double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return -1;
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, size_t(p * double(samples.size())))];
}

// The median, the 99th percentile and the worst of the samples as the counters "p50_<unit>",
// "p99_<unit>" and "max_<unit>"; nothing when there are none.
inline void reportSpread(benchmark::State &state, const std::vector<double> &samples, const std::string &unit)
{
    if (samples.empty())
        return;
    state.counters["p50_" + unit] = percentile(samples, 0.50);
    state.counters["p99_" + unit] = percentile(samples, 0.99);
    state.counters["max_" + unit] = *std::max_element(samples.begin(), samples.end());
}
