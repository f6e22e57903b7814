#include "async/CancellationError.h"
#include "async/ContinuousClock.h"

#include "support/AwaitTask.h"
#include "support/EventLoopProbe.h"

#include <QDir>
#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using varno::test::awaitTask;

namespace varno {
namespace {

TEST(ContinuousClock, SleepsForTheDurationWithoutBlockingTheLoop) {
    test::EventLoopProbe probe(5);
    const auto before = ContinuousClock::now();
    awaitTask(ContinuousClock::sleep(120ms), 5s);
    const auto slept = ContinuousClock::now() - before;
    EXPECT_GE(slept, 120ms);
    EXPECT_LT(slept, 2s);
    EXPECT_GE(probe.ticks(), 5) << "the event loop kept turning";

    awaitTask(ContinuousClock::sleep(0ms), 1s);
}

TEST(ContinuousClock, WakesAtOnceWhenCancelled) {
    {
        std::stop_source stop;
        std::jthread canceller([&] {
            std::this_thread::sleep_for(50ms);
            stop.request_stop();
        });
        const auto before = std::chrono::steady_clock::now();
        EXPECT_THROW(awaitTask(ContinuousClock::sleep(60s, stop.get_token()), 5s),
                     CancellationError);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    }
    {
        std::stop_source stop;
        stop.request_stop();
        EXPECT_THROW(awaitTask(ContinuousClock::sleep(60s, stop.get_token()), 1s),
                     CancellationError);
    }
}

int openDescriptors() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                                .size());
}

TEST(ContinuousClock, ManySleepsDoNotLeakDescriptors) {
    // Each sleep owns a timer descriptor; a leak would exhaust them in a long run.
    awaitTask(ContinuousClock::sleep(0ms), 1s);
    const int before = openDescriptors();
    for (int i = 0; i < 500; ++i)
        awaitTask(ContinuousClock::sleep(0ms), 1s);
    for (int i = 0; i < 100; ++i) {
        std::stop_source each;
        if (i % 2)
            each.request_stop(); // already cancelled: throws without arming a timer
        auto task = ContinuousClock::sleep(10s, each.get_token());
        each.request_stop();
        EXPECT_THROW(awaitTask(std::move(task), 1s), CancellationError);
    }
    EXPECT_LE(openDescriptors(), before + 2);
}

} // namespace
} // namespace varno
