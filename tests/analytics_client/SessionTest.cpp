#include "analytics/client/TelemetryConfig.h"
#include "analytics/client/TelemetrySessionManager.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace varno;
using namespace std::chrono_literals;
using Reason = SessionIdChangeReason;

namespace {

struct Sessions {
    QDateTime now = QDateTime::fromString("2024-05-01T09:00:00.000Z", Qt::ISODateWithMs);
    TelemetrySessionManager manager{[this] { return now; }};
    std::vector<std::pair<std::optional<QString>, Reason>> changes;

    explicit Sessions(bool background = false) {
        manager.setup(TelemetryConfig("token", {}), background);
        manager.addChangeCallback([this](const std::optional<QString>& id, Reason reason) {
            changes.emplace_back(id, reason);
        });
    }
    // What a capture after the given pause would carry.
    std::optional<QString> event(std::chrono::seconds after = 0s) {
        now = now.addSecs(after.count());
        return manager.getSessionId(now);
    }
    std::optional<QString> peek() { return manager.getSessionId(now, /*readOnly=*/true); }
    Reason lastReason() const { return changes.back().second; }
};

} // namespace

TEST(SessionManager, RotatesAfterInactivityOrMaximumLengthButNotWhileBusy) {
    struct Case {
        const char* name;
        std::vector<std::chrono::seconds> gaps; // time before each further event
        std::optional<Reason> rotation;
    };
    std::vector<std::chrono::seconds> day(72, 20min); // 72 x 20 minutes = 24 hours
    day.push_back(1s);
    const std::vector<Case> cases = {
        {"29 minutes apart", {29min}, {}},
        {"exactly 30 minutes apart", {30min}, {}},
        {"31 minutes apart", {31min}, Reason::sessionTimeout},
        {"steady activity for two hours", std::vector<std::chrono::seconds>(6, 20min), {}},
        {"24 hours and 1 second of steady activity", day, Reason::sessionPastMaximumLength},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sessions s;
        s.manager.startSession();
        const auto first = s.event();
        ASSERT_TRUE(first.has_value());
        std::optional<QString> last;
        for (auto gap : c.gaps)
            last = s.event(gap);
        ASSERT_TRUE(last.has_value());
        EXPECT_EQ(*last == *first, !c.rotation);
        EXPECT_EQ(s.changes.size(), c.rotation ? 2u : 1u);
        if (c.rotation)
            EXPECT_EQ(s.changes.back(), std::make_pair(last, *c.rotation));
    }
}

TEST(SessionManager, InTheBackgroundExpiredSessionsAreClearedNotReplaced) {
    Sessions s(/*background=*/true);
    s.manager.startSession();
    const auto started = s.event();
    ASSERT_TRUE(started);
    EXPECT_EQ(s.event(10min), started);
    EXPECT_EQ(s.event(31min), std::nullopt);
    EXPECT_EQ(s.changes.back(), std::make_pair(std::optional<QString>{}, Reason::sessionTimeout));
    EXPECT_EQ(s.event(1min), std::nullopt);

    // Becoming active touches nothing without a session; the next event starts one.
    s.manager.applicationDidBecomeActive();
    const auto resumed = s.event();
    ASSERT_TRUE(resumed);
    EXPECT_NE(resumed, started);
    EXPECT_EQ(s.lastReason(), Reason::sessionIdEmpty);

    // Past the maximum length in the background the session is cleared.
    s.manager.applicationDidEnterBackground();
    for (int i = 0; i < 72; ++i)
        ASSERT_EQ(s.event(20min), resumed) << i;
    EXPECT_EQ(s.event(20min), std::nullopt);
    EXPECT_EQ(s.lastReason(), Reason::sessionPastMaximumLength);
}

TEST(SessionManager, TouchResetEndAndReadOnlyRules) {
    Sessions s;
    s.manager.touchSession(); // without a session: nothing, and a look starts nothing
    EXPECT_EQ(s.peek(), std::nullopt);
    EXPECT_TRUE(s.changes.empty());

    s.manager.startSession();
    const auto started = s.peek();
    ASSERT_TRUE(started);
    EXPECT_EQ(s.lastReason(), Reason::sessionStart);
    s.now = s.now.addSecs(25 * 60);
    s.manager.touchSession(); // within 30 minutes: extends the session
    EXPECT_EQ(s.event(25min), started);
    s.now = s.now.addSecs(40 * 60);
    s.manager.touchSession(); // after 30 quiet minutes: replaces it at once
    const auto touched = s.peek();
    EXPECT_NE(touched, started);
    EXPECT_EQ(s.lastReason(), Reason::sessionTimeout);

    s.now = s.now.addSecs(2 * 3600);
    EXPECT_EQ(s.peek(), touched) << "a read-only look reports an expired session unchanged";
    s.manager.applicationDidEnterBackground();
    s.manager.applicationDidBecomeActive(); // touches, so it rotates now
    const auto active = s.peek();
    EXPECT_NE(active, touched);

    s.manager.resetSession();
    const auto afterReset = s.event();
    EXPECT_NE(afterReset, active);
    EXPECT_EQ(s.changes.back(), std::make_pair(afterReset, Reason::sessionReset));
    s.manager.endSession();
    EXPECT_EQ(s.peek(), std::nullopt);
    EXPECT_EQ(s.lastReason(), Reason::sessionEnd);
}

TEST(SessionManager, ThreadsCapturingAtExpiryAgreeOnOneNewSession) {
    Sessions s;
    s.manager.startSession();
    const auto old = s.event();
    s.now = s.now.addSecs(3600);
    std::vector<std::optional<QString>> seen(8 * 50);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                seen[t * 50 + i] = s.manager.getSessionId(s.now);
        });
    for (auto& thread : threads)
        thread.join();
    const auto current = s.peek();
    ASSERT_TRUE(current);
    EXPECT_NE(current, old);
    for (const auto& id : seen)
        ASSERT_EQ(id, current);
    EXPECT_EQ(s.changes.size(), 2u);
}
