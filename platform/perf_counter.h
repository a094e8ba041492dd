// The tick counter frame timing is measured with.
#pragma once

#include <chrono>
#include <cstdint>

namespace qv {

// A monotonic tick counter with a fixed frequency, the shape frame timing is
// written against.
inline std::int64_t QueryCounterFrequency() {
    using Period = std::chrono::steady_clock::period;
    return static_cast<std::int64_t>(Period::den / Period::num);
}

inline std::int64_t QueryCounter() {
    return static_cast<std::int64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

// Seconds from `start` to now, for timings summed over many frames.
inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace qv
