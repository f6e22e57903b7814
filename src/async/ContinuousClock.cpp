// SPDX-License-Identifier: MIT
#include "async/ContinuousClock.h"

#include "async/Sleep.h"

namespace varno::detail {

QCoro::Task<void> sleepOnEventLoopTimer(std::chrono::milliseconds duration, std::stop_token token) {
    co_await sleepFor(duration, std::move(token));
}

} // namespace varno::detail
