#pragma once

#include <chrono>

namespace bench {

using Clock = std::chrono::steady_clock;

/// Seconds from `from` to now.
inline double secondsSince(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

} // namespace bench
