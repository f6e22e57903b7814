// SPDX-License-Identifier: MIT
#include "async/CancellationError.h"
#include "async/ContinuousClock.h"

#include "support/AwaitTask.h"

#include <QDir>
#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using varno::test::awaitTask;

namespace varno {
namespace {

TEST(ContinuousClock, SleepsAndWakesAtOnceWhenCancelled) {
    auto before = ContinuousClock::now();
    awaitTask(ContinuousClock::sleep(60ms), 5s);
    EXPECT_GE(ContinuousClock::now() - before, 60ms);

    for (const bool alreadyCancelled : {false, true}) {
        std::stop_source stop;
        if (alreadyCancelled)
            stop.request_stop();
        std::jthread canceller([&] {
            std::this_thread::sleep_for(50ms);
            stop.request_stop();
        });
        before = ContinuousClock::now();
        EXPECT_THROW(awaitTask(ContinuousClock::sleep(60s, stop.get_token()), 5s),
                     CancellationError);
        EXPECT_LT(ContinuousClock::now() - before, 2s);
    }
}

TEST(ContinuousClock, ManySleepsDoNotLeakDescriptors) {
    // Each sleep owns a timer descriptor; a leak would exhaust them in a long run.
    const auto openDescriptors = [] {
        return QDir(QStringLiteral("/proc/self/fd"))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
            .size();
    };
    awaitTask(ContinuousClock::sleep(0ms), 1s);
    const auto before = openDescriptors();
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
