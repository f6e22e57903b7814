#include "analytics/client/TelemetryConfig.h"
#include "analytics/client/TelemetrySessionManager.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSet>

#include <atomic>
#include <thread>
#include <vector>

using namespace varno;
using namespace std::chrono_literals;

namespace {

struct ManualClock {
    QDateTime now =
        QDateTime::fromString(QStringLiteral("2024-05-01T09:00:00.000Z"), Qt::ISODateWithMs);
    void advance(std::chrono::seconds by) { now = now.addSecs(by.count()); }
};

struct SessionFixture {
    ManualClock clock;
    TelemetrySessionManager sessions{[this] { return clock.now; }};
    std::vector<std::pair<std::optional<QString>, SessionIdChangeReason>> changes;

    explicit SessionFixture(bool background = false) {
        sessions.setup(TelemetryConfig(QStringLiteral("token"), {}), background);
        sessions.addChangeCallback(
            [this](const std::optional<QString>& id, SessionIdChangeReason r) {
                changes.emplace_back(id, r);
            });
    }
    // What a capture at the current time would carry.
    std::optional<QString> event() { return sessions.getSessionId(clock.now); }
};

} // namespace

TEST(SessionManager, RotatesAfterInactivityOrMaximumLengthButNotWhileBusy) {
    struct Case {
        const char* name;
        std::vector<std::chrono::seconds> gaps; // time before each further event
        bool sameSession;
        std::optional<SessionIdChangeReason> reason;
    };
    const std::vector<Case> cases = {
        {"29 minutes apart", {29min}, true, {}},
        {"exactly 30 minutes apart", {30min}, true, {}},
        {"31 minutes apart", {31min}, false, SessionIdChangeReason::sessionTimeout},
        // Events keep the session alive: two hours of activity every 20 minutes.
        {"steady activity for two hours", std::vector<std::chrono::seconds>(6, 20min), true, {}},
        // 72 gaps of 20 minutes is 24 hours; one more second passes the maximum length.
        {"24 hours and 1 second of steady activity",
         [] {
             std::vector<std::chrono::seconds> gaps(72, 20min);
             gaps.push_back(1s);
             return gaps;
         }(),
         false, SessionIdChangeReason::sessionPastMaximumLength},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionFixture f;
        f.sessions.startSession();
        const auto first = f.event();
        ASSERT_TRUE(first.has_value());
        std::optional<QString> last;
        for (auto gap : c.gaps) {
            f.clock.advance(gap);
            last = f.event();
        }
        ASSERT_TRUE(last.has_value());
        EXPECT_EQ(*last == *first, c.sameSession);
        if (c.reason) {
            ASSERT_GE(f.changes.size(), 2u);
            EXPECT_EQ(f.changes.back().second, *c.reason);
            EXPECT_EQ(f.changes.back().first, last);
        } else {
            EXPECT_EQ(f.changes.size(), 1u); // only the start
        }
    }
}

TEST(SessionManager, SessionIdsAreLowerCaseTimeOrderedUuids) {
    SessionFixture f;
    f.sessions.startSession();
    const QString first = *f.event();
    f.clock.advance(31min);
    const QString second = *f.event();
    const QRegularExpression v7(
        QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"));
    EXPECT_TRUE(v7.match(first).hasMatch()) << first.toStdString();
    EXPECT_TRUE(v7.match(second).hasMatch()) << second.toStdString();
    EXPECT_LT(first, second);
}

TEST(SessionManager, BackgroundClearsExpiredSessionsAndForegroundStartsNewOnes) {
    SessionFixture f(/*background=*/true);
    f.sessions.startSession();
    const auto started = f.event();
    ASSERT_TRUE(started);

    // Within 30 minutes a background event keeps the session.
    f.clock.advance(10min);
    EXPECT_EQ(f.event(), started);

    // After more than 30 quiet minutes a background event carries none, and the next
    // background events do not start one either.
    f.clock.advance(31min);
    EXPECT_EQ(f.event(), std::nullopt);
    EXPECT_EQ(f.changes.back(),
              std::make_pair(std::optional<QString>{}, SessionIdChangeReason::sessionTimeout));
    f.clock.advance(1min);
    EXPECT_EQ(f.event(), std::nullopt);
    EXPECT_EQ(f.sessions.getSessionId(f.clock.now, /*readOnly=*/true), std::nullopt);

    // Becoming active touches nothing without a session; the next event starts one.
    f.sessions.applicationDidBecomeActive();
    EXPECT_FALSE(f.sessions.isAppInBackground());
    const auto resumed = f.event();
    ASSERT_TRUE(resumed);
    EXPECT_NE(resumed, started);
    EXPECT_EQ(f.changes.back().second, SessionIdChangeReason::sessionIdEmpty);

    // Past the maximum length in the background the session is cleared, not replaced.
    f.sessions.applicationDidEnterBackground();
    for (int i = 0; i < 73; ++i) {
        f.clock.advance(20min);
        const auto id = f.event();
        if (i < 72)
            EXPECT_EQ(id, resumed) << i;
        else
            EXPECT_EQ(id, std::nullopt);
    }
    EXPECT_EQ(f.changes.back().second, SessionIdChangeReason::sessionPastMaximumLength);
}

TEST(SessionManager, TouchResetAndReadOnlyRules) {
    SessionFixture f;
    // Without a session, touching does nothing and a read-only look starts nothing.
    f.sessions.touchSession();
    EXPECT_EQ(f.sessions.getSessionId(f.clock.now, true), std::nullopt);
    EXPECT_TRUE(f.changes.empty());

    f.sessions.startSession();
    const auto started = f.sessions.getSessionId(f.clock.now, true);
    ASSERT_TRUE(started);
    EXPECT_EQ(f.changes.back().second, SessionIdChangeReason::sessionStart);

    // A touch within 30 minutes extends the session...
    f.clock.advance(25min);
    f.sessions.touchSession();
    f.clock.advance(25min);
    EXPECT_EQ(f.event(), started);
    // ...one after 30 quiet minutes replaces it at once.
    f.clock.advance(40min);
    f.sessions.touchSession();
    const auto touched = f.sessions.getSessionId(f.clock.now, true);
    ASSERT_TRUE(touched);
    EXPECT_NE(touched, started);
    EXPECT_EQ(f.changes.back().second, SessionIdChangeReason::sessionTimeout);

    // A read-only look at an expired session reports it unchanged.
    f.clock.advance(2h);
    EXPECT_EQ(f.sessions.getSessionId(f.clock.now, true), touched);

    // Coming back from the background touches the session: it rotates now.
    f.sessions.applicationDidEnterBackground();
    f.sessions.applicationDidBecomeActive();
    const auto afterActive = f.sessions.getSessionId(f.clock.now, true);
    EXPECT_NE(afterActive, touched);

    f.sessions.resetSession();
    const auto afterReset = f.event();
    EXPECT_NE(afterReset, afterActive);
    EXPECT_EQ(f.changes.back(), std::make_pair(afterReset, SessionIdChangeReason::sessionReset));

    f.sessions.endSession();
    EXPECT_EQ(f.sessions.getSessionId(f.clock.now, true), std::nullopt);
    EXPECT_EQ(f.changes.back().second, SessionIdChangeReason::sessionEnd);
}

TEST(SessionManager, ThreadsCapturingAtExpiryAgreeOnOneNewSession) {
    SessionFixture f;
    f.sessions.startSession();
    const auto old = f.event();
    f.clock.advance(1h);
    const QDateTime at = f.clock.now;

    std::vector<std::optional<QString>> seen(8 * 50);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                seen[t * 50 + i] = f.sessions.getSessionId(at);
        });
    for (auto& thread : threads)
        thread.join();

    QSet<QString> ids;
    for (const auto& id : seen) {
        ASSERT_TRUE(id);
        ids.insert(*id);
    }
    EXPECT_EQ(ids.size(), 1);
    EXPECT_NE(*ids.begin(), *old);
    EXPECT_EQ(f.changes.size(), 2u);
}
