// SPDX-License-Identifier: MIT
#include "async/ContinuousClock.h"

#include <time.h>

namespace varno {

// CLOCK_MONOTONIC_RAW on macOS is mach_continuous_time: it counts while asleep.
std::chrono::nanoseconds ContinuousClock::now() {
    return std::chrono::nanoseconds(clock_gettime_nsec_np(CLOCK_MONOTONIC_RAW));
}

// Qt's timers on macOS follow the kernel's monotonic clock, which pauses during
// sleep; the loop then runs its first pass after waking a little late.
QCoro::Task<void> ContinuousClock::sleep(std::chrono::milliseconds duration,
                                         std::stop_token token) {
    return detail::sleepOnEventLoopTimer(duration, std::move(token));
}

} // namespace varno
