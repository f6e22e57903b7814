// SPDX-License-Identifier: MIT
#include "auth/CallbackRouter.h"
#include "auth/SignInCancelled.h"
#include "model/Errors.h"

#include "support/AwaitTask.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using varno::test::awaitTask;

namespace varno {
namespace {

const QUrl startURL(QStringLiteral("http://127.0.0.1:3000/api/auth/github/page?state=abc"));
const QString callbackURL = QStringLiteral("varno://auth/callback?state=s&code=c");

TEST(CallbackRouter, EndsWithTheRightOutcome) {
    struct Case {
        bool openerWorks;
        std::chrono::milliseconds limit;
        bool cancel;
        std::string outcome; // "delivered", "cancelled" or the error's message
    } cases[] = {
        {true, 10min, false, "delivered"},
        {true, 10min, true, "cancelled"},
        {true, 50ms, false, "GitHub sign-in did not complete."},
        {false, 10min, false, "Could not open GitHub sign-in."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outcome);
        QList<QUrl> opened;
        CallbackRouter router(
            [&](const QUrl& url) {
                opened.append(url);
                return c.openerWorks;
            },
            c.limit);
        EXPECT_FALSE(router.deliver(callbackURL)) << "nobody waits yet";
        std::stop_source stop;
        QTimer::singleShot(20ms, &router, [&] { // dropped with the router
            EXPECT_FALSE(router.deliver(QStringLiteral("https://example.com/callback")));
            if (c.cancel)
                stop.request_stop();
            else if (c.outcome == "delivered") {
                EXPECT_TRUE(router.deliver(callbackURL));
                EXPECT_FALSE(router.deliver(callbackURL)) << "only the first one counts";
            }
        });
        std::string outcome = "delivered";
        try {
            EXPECT_EQ(awaitTask(router.openGitHub(startURL, stop.get_token()), 5s), callbackURL);
        } catch (const SignInCancelled&) {
            outcome = "cancelled";
        } catch (const AppError& error) {
            outcome = error.message().toStdString();
        }
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(opened, QList<QUrl>{startURL});
        EXPECT_FALSE(router.isWaiting());
        EXPECT_FALSE(router.deliver(callbackURL)) << "a late callback is ignored";
    }
}

} // namespace
} // namespace varno
