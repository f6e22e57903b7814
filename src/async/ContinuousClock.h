// SPDX-License-Identifier: MIT
#pragma once

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <stop_token>

namespace varno {

// A clock that keeps counting while the machine is suspended, so that a periodic
// job whose interval passed during sleep runs as soon as the machine wakes.
class ContinuousClock {
public:
    ContinuousClock() = delete;

    // Time since an arbitrary fixed point, including time spent suspended.
    static std::chrono::nanoseconds now();

    // Resumes on the caller's event loop once the duration has passed on this
    // clock. Throws CancellationError when the token is stopped, at once rather
    // than when the interval ends. Never blocks the thread.
    static QCoro::Task<void> sleep(std::chrono::milliseconds duration, std::stop_token token = {});
};

// The shape of an injectable sleep, so that loops built on it can be tested
// without waiting for real minutes.
using Sleeper = std::function<QCoro::Task<void>(std::chrono::milliseconds, std::stop_token)>;

namespace detail {
// The portable fallback: an event-loop timer (on most systems it does not count
// suspended time, which only delays the first pass after waking).
QCoro::Task<void> sleepOnEventLoopTimer(std::chrono::milliseconds duration, std::stop_token token);
} // namespace detail

} // namespace varno
