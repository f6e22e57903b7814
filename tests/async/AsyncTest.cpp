// SPDX-License-Identifier: MIT
#include "async/Background.h"
#include "async/CancellationError.h"
#include "async/Job.h"
#include "async/Sleep.h"

#include "support/AwaitTask.h"
#include "support/EventLoopProbe.h"

#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;
using varno::CancellationError;
using varno::Job;
using varno::test::awaitTask;
using varno::test::waitUntil;

namespace {

struct CustomError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace

TEST(Background, RunsBelowTheInterfaceAndResumesOnTheCallerThreadWhileTheLoopTurns) {
    varno::test::EventLoopProbe probe(5);
    QThread* mainThread = QThread::currentThread();
    QThread* workerThread = nullptr;
    QThread* resumedOn = nullptr;
    int workerNice = 0;
    auto task = [&]() -> QCoro::Task<int> {
        int v = co_await varno::runInBackground([&](std::stop_token) {
            workerThread = QThread::currentThread();
            workerNice = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
            std::this_thread::sleep_for(200ms);
            return 42;
        });
        resumedOn = QThread::currentThread();
        co_return v;
    };
    EXPECT_EQ(awaitTask(task()), 42);
    EXPECT_NE(workerThread, mainThread);
    EXPECT_EQ(resumedOn, mainThread);
#ifdef Q_OS_LINUX
    const int mainNice = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    EXPECT_TRUE(workerNice > mainNice || mainNice == 19) << workerNice << " vs " << mainNice;
#endif
    // 200 ms of blocking work at a 5 ms tick: a blocked loop would show almost none.
    EXPECT_GT(probe.ticks(), 10);
}

TEST(Background, RethrowsTheOriginalExceptionType) {
    auto throwsCustom = []() -> QCoro::Task<void> {
        co_await varno::runInBackground(
            [](std::stop_token) { throw CustomError("disk is on fire"); });
    };
    try {
        awaitTask(throwsCustom());
        FAIL() << "expected CustomError";
    } catch (const CustomError& e) {
        EXPECT_STREQ(e.what(), "disk is on fire");
    }
}

TEST(Background, ForwardsCancellationAndWaitsForTheWorkToEnd) {
    std::atomic<bool> workEnded{false};
    auto job = Job::start([&](std::stop_token token) -> QCoro::Task<void> {
        co_await varno::runInBackground(
            [&](std::stop_token inner) {
                while (!inner.stop_requested())
                    std::this_thread::sleep_for(5ms);
                workEnded = true;
                throw CancellationError();
            },
            token);
    });
    QTimer::singleShot(50, [job] { job->cancel(); });
    awaitTask(job->wait(), 5s);
    EXPECT_TRUE(workEnded.load());
    EXPECT_TRUE(job->isFinished());
    ASSERT_TRUE(job->failure());
    EXPECT_THROW(std::rethrow_exception(job->failure()), CancellationError);
}

TEST(Background, AlreadyCancelledCallerStartsNothing) {
    std::stop_source stopped;
    stopped.request_stop();
    bool ran = false;
    auto task = [&]() -> QCoro::Task<void> {
        co_await varno::runInBackground([&](std::stop_token) { ran = true; }, stopped.get_token());
    };
    EXPECT_THROW(awaitTask(task()), CancellationError);
    EXPECT_FALSE(ran);
}

TEST(Sleep, WakesAtOnceOnCancellation) {
    auto job = Job::start(
        [](std::stop_token token) -> QCoro::Task<void> { co_await varno::sleepFor(60s, token); });
    auto started = std::chrono::steady_clock::now();
    QTimer::singleShot(20, [job] { job->cancel(); });
    awaitTask(job->wait(), 2s);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_THROW(std::rethrow_exception(job->failure()), CancellationError);
}

TEST(Sleep, CancellationFromAnotherThreadIsDeliveredOnTheLoop) {
    auto job = Job::start(
        [](std::stop_token token) -> QCoro::Task<void> { co_await varno::sleepFor(60s, token); });
    std::thread canceller([job] {
        std::this_thread::sleep_for(20ms);
        job->cancel();
    });
    awaitTask(job->wait(), 2s);
    canceller.join();
    EXPECT_TRUE(job->isFinished());
}

TEST(Job, CatchesWhatTheBodyThrowsAndWakesWaiters) {
    auto job = Job::start([](std::stop_token token) -> QCoro::Task<void> {
        co_await varno::sleepFor(10ms, token);
        throw CustomError("boom");
    });
    EXPECT_FALSE(job->isFinished());
    int waiters = 0;
    auto waiter = [&]() -> QCoro::Task<void> {
        co_await job->wait();
        ++waiters;
    };
    auto a = Job::start([&](std::stop_token) { return waiter(); });
    auto b = Job::start([&](std::stop_token) { return waiter(); });
    EXPECT_TRUE(waitUntil([&] { return waiters == 2; }));
    EXPECT_THROW(std::rethrow_exception(job->failure()), CustomError);
    // Waiting on a finished job returns at once.
    awaitTask(job->wait(), 100ms);
}

TEST(Job, KeepsItselfAliveWhenTheHandleIsDropped) {
    bool reachedEnd = false;
    Job::start([&](std::stop_token token) -> QCoro::Task<void> {
        co_await varno::sleepFor(20ms, token);
        reachedEnd = true;
    });
    EXPECT_TRUE(waitUntil([&] { return reachedEnd; }));
}
