#include "auth/CallbackRouter.h"
#include "auth/SignInCancelled.h"
#include "model/Errors.h"

#include "support/AwaitTask.h"

#include <QCoreApplication>
#include <QFileOpenEvent>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using varno::test::awaitTask;

namespace varno {
namespace {

const QUrl startURL(QStringLiteral("http://127.0.0.1:3000/api/auth/github/page?state=abc"));
const QUrl callbackURL(QStringLiteral("varno://auth/callback?state=s&code=c"));

struct RecordingOpener {
    QList<QUrl> opened;
    bool succeed = true;
    CallbackRouter::Opener get() {
        return [this](const QUrl& url) {
            opened.append(url);
            return succeed;
        };
    }
};

QString appErrorOf(const std::function<void()>& run) {
    try {
        run();
    } catch (const AppError& error) {
        return error.message();
    }
    return QStringLiteral("<no AppError>");
}

TEST(CallbackRouter, ReturnsTheFirstAppURLThatArrivesWhileItWaits) {
    RecordingOpener opener;
    CallbackRouter router(opener.get());
    QSignalSpy waiting(&router, &CallbackRouter::waitingChanged);

    EXPECT_FALSE(router.deliver(callbackURL)) << "nobody waits yet";

    QTimer::singleShot(20ms, [&] {
        EXPECT_TRUE(router.isWaiting());
        EXPECT_FALSE(router.deliver(QUrl(QStringLiteral("https://example.com/callback"))));
        EXPECT_FALSE(router.deliver(QUrl()));
        EXPECT_TRUE(router.deliver(callbackURL));
        EXPECT_FALSE(router.deliver(QUrl(QStringLiteral("varno://auth/callback?second"))));
    });
    const QUrl got = awaitTask(router.openGitHub(startURL), 5s);

    EXPECT_EQ(got, callbackURL);
    EXPECT_EQ(opener.opened, QList<QUrl>{startURL});
    EXPECT_FALSE(router.isWaiting());
    ASSERT_EQ(waiting.count(), 2);
    EXPECT_TRUE(waiting.at(0).at(0).toBool());
    EXPECT_FALSE(waiting.at(1).at(0).toBool());
    EXPECT_FALSE(router.deliver(callbackURL)) << "a late callback is ignored";
}

TEST(CallbackRouter, EndsWithTheRightOutcome) {
    {
        RecordingOpener opener;
        opener.succeed = false;
        CallbackRouter router(opener.get());
        EXPECT_EQ(appErrorOf([&] { awaitTask(router.openGitHub(startURL), 5s); }),
                  "Could not open GitHub sign-in.");
        EXPECT_FALSE(router.isWaiting());
        EXPECT_FALSE(router.deliver(callbackURL));
    }
    {
        RecordingOpener opener;
        CallbackRouter router(opener.get(), 50ms);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(appErrorOf([&] { awaitTask(router.openGitHub(startURL), 5s); }),
                  "GitHub sign-in did not complete.");
        EXPECT_GE(std::chrono::steady_clock::now() - started, 45ms);
        EXPECT_FALSE(router.isWaiting());
    }
    {
        // Cancelled long before the ten-minute limit, from another thread.
        RecordingOpener opener;
        CallbackRouter router(opener.get());
        std::stop_source stop;
        std::jthread canceller([&] {
            std::this_thread::sleep_for(30ms);
            stop.request_stop();
        });
        EXPECT_THROW(awaitTask(router.openGitHub(startURL, stop.get_token()), 2s), SignInCancelled);
        EXPECT_FALSE(router.isWaiting());
    }
    {
        // Already cancelled: the browser is never opened.
        RecordingOpener opener;
        CallbackRouter router(opener.get());
        std::stop_source stop;
        stop.request_stop();
        EXPECT_THROW(awaitTask(router.openGitHub(startURL, stop.get_token()), 2s), SignInCancelled);
        EXPECT_TRUE(opener.opened.isEmpty());
    }
    {
        // The app quits while the browser is open.
        RecordingOpener opener;
        auto router = std::make_unique<CallbackRouter>(opener.get());
        auto task = router->openGitHub(startURL);
        router.reset();
        EXPECT_THROW(awaitTask(std::move(task), 1s), SignInCancelled);
    }
}

TEST(CallbackRouter, ANewerSignInReplacesTheOlderWait) {
    RecordingOpener opener;
    CallbackRouter router(opener.get());
    auto first = router.openGitHub(startURL);
    QTimer::singleShot(20ms, [&] { router.deliver(callbackURL); });
    const QUrl second = awaitTask(router.openGitHub(startURL), 5s);
    EXPECT_EQ(second, callbackURL);
    EXPECT_THROW(awaitTask(std::move(first), 1s), SignInCancelled);
}

TEST(CallbackRouter, TakesURLsFromFileOpenEvents) {
    RecordingOpener opener;
    CallbackRouter router(opener.get());
    QCoreApplication::instance()->installEventFilter(&router);
    QTimer::singleShot(20ms, [] {
        QFileOpenEvent other(QUrl(QStringLiteral("file:///tmp/x.txt")));
        QCoreApplication::sendEvent(QCoreApplication::instance(), &other);
        QFileOpenEvent event(callbackURL);
        QCoreApplication::sendEvent(QCoreApplication::instance(), &event);
    });
    const QUrl got = awaitTask(router.openGitHub(startURL), 5s);
    QCoreApplication::instance()->removeEventFilter(&router);
    EXPECT_EQ(got, callbackURL);
}

} // namespace
} // namespace varno
