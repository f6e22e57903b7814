// SPDX-License-Identifier: MIT
#include "async/ContinuousClock.h"

namespace varno {

std::chrono::nanoseconds ContinuousClock::now() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

QCoro::Task<void> ContinuousClock::sleep(std::chrono::milliseconds duration,
                                         std::stop_token token) {
    return detail::sleepOnEventLoopTimer(duration, std::move(token));
}

} // namespace varno
