#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vek::bench {

// The box's line: 3,686,400 baud, ten bit times a byte (start, eight data, stop).
inline constexpr double kBoxBaud = 3686400.0;
inline double wireSeconds(uint64_t bytes) {
    return double(bytes) * 10.0 / kBoxBaud;
}

// Wall clock, process CPU time (every thread) and context switches at one instant.
struct Instant {
    std::chrono::steady_clock::time_point wall;
    double cpuS = 0;
    long switches = 0;
    static Instant now();
};

// One timed run of a flow of stop-and-wait exchanges.
struct RunFigures {
    bool ok = false;
    std::string failure;
    int exchanges = 0;
    uint64_t wireBytes = 0;  // both directions
    double wallS = 0;
    double cpuS = 0;
    long switches = 0;
    void between(const Instant& start, const Instant& end);
};

struct Spread {
    double median = 0, min = 0, max = 0;
};

inline Spread spreadOf(std::vector<double> values) {
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

}  // namespace vek::bench
