// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryConfig.h"
#include "analytics/client/TelemetrySessionManager.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace varno;
using namespace std::chrono_literals;
using Reason = SessionIdChangeReason;

namespace {

struct Sessions {
    QDateTime now = QDateTime::fromString("2024-05-01T09:00:00.000Z", Qt::ISODateWithMs);
    TelemetrySessionManager manager{[this] { return now; }};
    std::vector<std::pair<std::optional<QString>, Reason>> changes;

    Sessions() {
        manager.setup(TelemetryConfig("token", {}), /*appInBackground=*/false);
        manager.addChangeCallback([this](const std::optional<QString>& id, Reason reason) {
            changes.emplace_back(id, reason);
        });
    }
    std::optional<QString> peek() { return manager.getSessionId(now, /*readOnly=*/true); }
};

} // namespace

TEST(SessionManager, FollowsInactivityMaximumLengthBackgroundTouchAndResetRules) {
    using Op = std::function<void(Sessions&)>;
    const Op capture = [](Sessions& s) { s.manager.getSessionId(s.now); };
    const Op steadyDay = [](Sessions& s) { // 72 captures 20 minutes apart: exactly 24 hours
        for (int i = 0; i < 72; ++i)
            s.manager.getSessionId(s.now = s.now.addSecs(20 * 60));
    };
    const Op peek = [](Sessions&) {};
    auto call = [](void (TelemetrySessionManager::*method)()) {
        return Op([method](Sessions& s) { (s.manager.*method)(); });
    };
    using M = TelemetrySessionManager;
    const Op start = call(&M::startSession), touch = call(&M::touchSession),
             background = call(&M::applicationDidEnterBackground),
             active = call(&M::applicationDidBecomeActive), reset = call(&M::resetSession),
             end = call(&M::endSession);
    enum Outcome { same, fresh, none };
    struct Step {
        const char* what;
        Op op;
        std::chrono::seconds after; // time passed before the step
        Outcome outcome;            // the session afterwards, against the one before
        std::optional<Reason> reason = {};
    };
    const std::vector<Step> steps = {
        {"touch without a session", touch, 0s, none},
        {"start", start, 0s, fresh, Reason::sessionStart},
        {"29 quiet minutes", capture, 29min, same},
        {"exactly 30 quiet minutes", capture, 30min, same},
        {"31 quiet minutes", capture, 31min, fresh, Reason::sessionTimeout},
        {"captures every 20 minutes for 24 hours", steadyDay, 0s, same},
        {"past 24 hours", capture, 1s, fresh, Reason::sessionPastMaximumLength},
        {"a read-only look when expired", peek, 2h, same},
        {"a touch when expired", touch, 0s, fresh, Reason::sessionTimeout},
        {"a touch within 30 minutes extends it", touch, 25min, same},
        {"so 50 minutes on it lives", capture, 25min, same},
        {"background", background, 10min, same},
        {"31 quiet minutes in the background", capture, 31min, none, Reason::sessionTimeout},
        {"no new one in the background", capture, 1min, none},
        {"becoming active touches nothing without one", active, 0s, none},
        {"the next capture starts one", capture, 0s, fresh, Reason::sessionIdEmpty},
        {"background again", background, 0s, same},
        {"a busy day in the background", steadyDay, 0s, same},
        {"past 24 hours in the background", capture, 1s, none, Reason::sessionPastMaximumLength},
        {"active", active, 0s, none},
        {"a capture starts one", capture, 0s, fresh, Reason::sessionIdEmpty},
        {"background once more", background, 0s, same},
        {"active after 40 quiet minutes touches it", active, 40min, fresh, Reason::sessionTimeout},
        {"reset", reset, 0s, fresh, Reason::sessionReset},
        {"end", end, 0s, none, Reason::sessionEnd},
    };
    Sessions s;
    std::optional<QString> current;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        s.now = s.now.addSecs(step.after.count());
        const std::size_t changesBefore = s.changes.size();
        step.op(s);
        const std::optional<QString> id = s.peek();
        if (step.outcome == none)
            EXPECT_EQ(id, std::nullopt);
        else if (step.outcome == same)
            EXPECT_EQ(id, current);
        else
            EXPECT_TRUE(id && id != current);
        if (step.reason)
            EXPECT_EQ(s.changes.back(), std::make_pair(id, *step.reason));
        else
            EXPECT_EQ(s.changes.size(), changesBefore) << "no change was announced";
        current = id;
    }
}
