#include "async/CancellationError.h"
#include "async/ContinuousClock.h"

#include "support/AwaitTask.h"

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

} // namespace
} // namespace varno
