#include "analytics/client/TelemetrySDK.h"
#include "support/AwaitTask.h"
#include "support/DevServerProcess.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace varno;
using namespace varno::test;

namespace {

// What the development server's analytics sink holds, oldest first.
QJsonArray sinkEvents(const DevServerProcess& server) {
    QNetworkAccessManager network;
    QNetworkReply* reply =
        network.get(QNetworkRequest(QUrl(server.baseUrl() + "/dev/analytics/events")));
    waitUntil([reply] { return reply->isFinished(); });
    const QJsonArray events =
        QJsonDocument::fromJson(reply->readAll()).object().value("events").toArray();
    reply->deleteLater();
    return events;
}

} // namespace

TEST(SdkWithDevServer, CaptureIdentifyResetAndFlushArriveInOrderUnderTheRightIds) {
    DevServerProcess server;
    QTemporaryDir dir;
    TelemetryConfig config(QStringLiteral("phc_dev"), server.baseUrl());
    config.storageFolder = dir.filePath("app");
    config.flushIntervalSeconds = 3600;

    TelemetrySDK::Options options;
    options.followApplicationState = false;
    TelemetrySDK sdk(options);
    sdk.setup(config);

    const QString anonymous = sdk.getAnonymousId();
    const QString firstSession = sdk.currentSessionId().value_or(QString());
    sdk.capture("app_launched", {{"platform", "linux"}});
    sdk.identify("u1", QVariantMap{{"name", "Ada"}, {"email", "ada@example.com"}});
    sdk.capture("usage_sync_completed", {});
    sdk.reset();
    const QString next = sdk.getDistinctId();
    const QString secondSession = sdk.currentSessionId().value_or(QString());
    sdk.capture("leaderboard_opened", {});
    sdk.flush();

    QJsonArray received;
    ASSERT_TRUE(waitUntil([&] { return (received = sinkEvents(server)).size() >= 4; }))
        << received.size();
    ASSERT_EQ(received.size(), 4);

    struct Expected {
        const char* event;
        QString distinctId;
        QString session;
    };
    const QList<Expected> expected = {
        {"app_launched", anonymous, firstSession},
        {"$identify", "u1", firstSession},
        {"usage_sync_completed", "u1", firstSession},
        {"leaderboard_opened", next, secondSession},
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject entry = received[i].toObject();
        const QJsonObject event = entry.value("event").toObject();
        const QJsonObject properties = event.value("properties").toObject();
        EXPECT_EQ(entry.value("apiKey"), "phc_dev");
        EXPECT_EQ(entry.value("gzipped"), true);
        EXPECT_EQ(event.value("event"), expected[i].event);
        EXPECT_EQ(event.value("distinct_id"), expected[i].distinctId);
        EXPECT_EQ(properties.value("$session_id"), expected[i].session);
        EXPECT_EQ(properties.value("$lib"), "varno-telemetry");
    }
    EXPECT_FALSE(firstSession.isEmpty());
    EXPECT_NE(firstSession, secondSession);
    EXPECT_NE(anonymous, next);
    EXPECT_EQ(received[1]
                  .toObject()
                  .value("event")
                  .toObject()
                  .value("properties")
                  .toObject()
                  .value("$anon_distinct_id"),
              anonymous);

    // Delivered events leave the queue folder.
    EXPECT_TRUE(
        waitUntil([&] { return QDir(sdk.queueFolder()).entryList(QDir::Files).isEmpty(); }));
}
