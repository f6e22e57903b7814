// SPDX-License-Identifier: MIT
#pragma once

#include <QCoroTask>

#include <chrono>
#include <stop_token>

namespace varno {

// Sleeps on the caller's event loop. Throws CancellationError when the token is
// stopped, at once rather than when the interval ends.
QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, std::stop_token token = {});

} // namespace varno
