#include "QueueTestSupport.h"
#include "support/AwaitTask.h"
#include "support/DevServerProcess.h"

#include "analytics/client/TelemetryQueue.h"
#include "analytics/client/UuidV7.h"

#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <gtest/gtest.h>

using namespace varno;
using namespace varno::test;
using namespace std::chrono_literals;

namespace {
QJsonArray sinkEvents(const QString& baseUrl) {
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(
        manager.get(QNetworkRequest(QUrl(baseUrl + "/dev/analytics/events"))));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10s, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    return QJsonDocument::fromJson(reply->readAll()).object().value("events").toArray();
}
} // namespace

TEST(DevServerDelivery, AQueueDeliversGzipBatchesToTheDevelopmentServerAndDeletesItsFiles) {
    DevServerProcess server;
    QTemporaryDir dir;
    TelemetryConfig config(QStringLiteral("dev-token"), server.baseUrl());
    config.flushAt = 3;
    auto api = std::make_shared<TelemetryApi>(config);
    TelemetryEventQueue queue(config, dir.path(), telemetryEventsEndpoint(api));
    queue.start();
    QStringList uuids;
    for (const char* name : {"app_launched", "usage_sync_completed", "leaderboard_opened"}) {
        const TelemetryEvent event(name, "user-7", {{"platform", "linux"}});
        uuids.append(UuidV7::toText(event.uuid));
        ASSERT_TRUE(queue.add(event)); // the third reaches flushAt and uploads
    }
    ASSERT_TRUE(waitUntil([&] { return queue.depth() == 0 && !queue.isFlushing(); }, 15s));
    EXPECT_TRUE(QDir(queue.folder())
                    .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());

    const QJsonArray events = sinkEvents(server.baseUrl());
    ASSERT_EQ(events.size(), 3);
    for (qsizetype i = 0; i < events.size(); ++i) {
        const QJsonObject entry = events[i].toObject();
        EXPECT_TRUE(entry["gzipped"].toBool());
        EXPECT_EQ(entry["apiKey"].toString(), "dev-token");
        EXPECT_EQ(entry["event"].toObject()["uuid"].toString(), uuids[i]);
        EXPECT_EQ(entry["event"].toObject()["distinct_id"].toString(), "user-7");
    }
}
