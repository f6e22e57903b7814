// SPDX-License-Identifier: MIT
#pragma once

#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace varno::test {

struct TaskTimedOut : std::runtime_error {
    TaskTimedOut() : std::runtime_error("the awaited task did not finish in time") {}
};

namespace detail {
template <typename T> struct DriveState {
    QEventLoop loop;
    bool done = false;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    std::exception_ptr error;
};

template <typename T>
QCoro::Task<void> drive(QCoro::Task<T> task, std::shared_ptr<DriveState<T>> state) {
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            state->value.emplace(co_await std::move(task));
    } catch (...) {
        state->error = std::current_exception();
    }
    state->done = true;
    state->loop.quit();
}
} // namespace detail

// Runs the event loop until the task finishes and returns its result (or rethrows
// what it threw). Throws TaskTimedOut when it takes longer than the timeout, so a
// hung coroutine fails its test instead of the whole suite.
template <typename T>
T awaitTask(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    auto state = std::make_shared<detail::DriveState<T>>();
    detail::drive(std::move(task), state);
    if (!state->done) {
        QTimer::singleShot(timeout, &state->loop, [s = state.get()] { s->loop.quit(); });
        state->loop.exec();
    }
    if (!state->done)
        throw TaskTimedOut();
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->value);
}

// Spins the event loop until the predicate holds or the timeout passes.
template <typename P>
bool waitUntil(P predicate, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (predicate())
            loop.quit();
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    if (predicate())
        return true;
    poll.start();
    loop.exec();
    return predicate();
}

} // namespace varno::test
