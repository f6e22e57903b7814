// SPDX-License-Identifier: MIT
#pragma once

#include "async/CancellationError.h"
#include "async/Memory.h"
#include "async/WorkerPriority.h"

#include <QCoroFuture>
#include <QCoroTask>
#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>

namespace varno {

// A pool for work that blocks (child processes, keychain calls, file reads), kept
// apart from Qt's global pool so that a 45-second tool run cannot starve it.
QThreadPool& blockingPool();

namespace detail {
template <typename R> struct Outcome {
    std::optional<R> value;
    std::exception_ptr error;
};
template <> struct Outcome<void> { std::exception_ptr error; };
} // namespace detail

// Runs work(token) on a background thread, below the interface, and resumes the
// caller on its own thread with the result, or rethrows exactly what the work threw
// (types preserved). A stop request on callerToken is forwarded to the work's token;
// the caller keeps waiting until the work has returned, so nothing it uses can
// outlive the call.
template <typename F>
auto runInBackground(F work, std::stop_token callerToken = {})
    -> QCoro::Task<std::invoke_result_t<F&, std::stop_token>> {
    using R = std::invoke_result_t<F&, std::stop_token>;
    if (callerToken.stop_requested())
        throw CancellationError();
    auto source = std::make_shared<std::stop_source>();
    std::stop_callback forward(callerToken, [source] { source->request_stop(); });
    QFuture<detail::Outcome<R>> future = QtConcurrent::run(
        &blockingPool(), [work = std::move(work), token = source->get_token()]() mutable {
            runBelowTheInterface();
            detail::Outcome<R> out;
            try {
                if constexpr (std::is_void_v<R>)
                    work(token);
                else
                    out.value.emplace(work(token));
            } catch (...) {
                out.error = std::current_exception();
            }
            return out;
        });
    detail::Outcome<R> out = co_await future;
    if (out.error)
        std::rethrow_exception(out.error);
    if constexpr (!std::is_void_v<R>)
        co_return std::move(*out.value);
}

// Lets go of something large on a worker thread, below the interface, and gives its
// pages back: freeing a list of many thousands of rows takes tens of milliseconds.
template <typename T> void freeInBackground(T&& value) {
    auto held = std::make_shared<std::decay_t<T>>(std::forward<T>(value));
    QThreadPool::globalInstance()->start([held = std::move(held)]() mutable {
        runBelowTheInterface();
        held.reset();
        memory::releaseFreePages();
    });
}

} // namespace varno
