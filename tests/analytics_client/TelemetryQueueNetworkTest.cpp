#include "QueueTestSupport.h"
#include "support/AwaitTask.h"
#include "support/ScriptedHttpServer.h"

#include "analytics/client/TelemetryQueue.h"
#include "analytics/client/UuidV7.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace varno;
using namespace varno::test;
using namespace std::chrono_literals;

namespace {

// A queue wired to a real TelemetryApi over the network, with a manual clock.
struct NetworkQueue {
    NetworkQueue(const QUrl& host, ManualClock& clock, LogCapture* log = nullptr) {
        TelemetryConfig config = testConfig(host.toString());
        api = std::make_shared<TelemetryApi>(config);
        queue = std::make_unique<TelemetryEventQueue>(
            config, dir.path(), telemetryEventsEndpoint(api),
            TelemetryQueueEnvironment{
                clock.function(), {}, {}, log ? log->logger() : TelemetryLogger()});
        queue->start();
    }
    QStringList files() const {
        return QDir(dir.filePath("telemetry.queueFolder.uuid"))
            .entryList(QDir::Files | QDir::Hidden);
    }

    QTemporaryDir dir;
    std::shared_ptr<TelemetryApi> api;
    std::unique_ptr<TelemetryEventQueue> queue;
};

// Flushes and waits until the server has seen the upload and the queue has handled it.
::testing::AssertionResult flushAndSettle(NetworkQueue& q, ScriptedHttpServer& server) {
    const int before = server.requestCount();
    q.queue->flush();
    if (!server.waitForRequests(before + 1, 15s))
        return ::testing::AssertionFailure() << "no request reached the server";
    if (!waitUntil([&] { return !q.queue->isFlushing(); }, 15s))
        return ::testing::AssertionFailure() << "the upload never finished";
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(TelemetryQueueNetwork, DeliversAGzipBatchToTheBatchEndpointAndDeletesTheFiles) {
    ScriptedHttpServer server;
    server.setDefault(ScriptedResponse::reply(200, R"({"status":"ok"})"));
    ManualClock clock;
    NetworkQueue q(server.url("/telemetry"), clock);
    QStringList sent;
    for (int i = 0; i < 3; ++i) {
        const TelemetryEvent event = makeEvent("usage_sync_completed", i);
        sent.append(UuidV7::toText(event.uuid));
        ASSERT_TRUE(q.queue->add(event));
    }
    EXPECT_EQ(q.files().size(), 3);
    ASSERT_TRUE(flushAndSettle(q, server));
    ASSERT_TRUE(waitUntil([&] { return q.queue->depth() == 0; }));

    const RecordedRequest request = server.requests().first();
    EXPECT_EQ(request.path, "/telemetry/batch");
    EXPECT_EQ(request.header("Content-Encoding"), "gzip");
    EXPECT_EQ(batchUuids(request.body), sent);
    EXPECT_TRUE(q.files().isEmpty());
}

TEST(TelemetryQueueNetwork, EveryServerFaultFollowsTheRulesAndNeverSticksTheQueue) {
    struct Case {
        const char* name;
        ScriptedResponse response;
        int events;
        int keptAfterFault; // files left after the faulty answer
        double pause;       // seconds of back-off, 0 for none
        int capAfter;
    };
    const std::vector<Case> cases = {
        {"500", ScriptedResponse::reply(500, "oops", "text/plain"), 2, 2, 1, 50},
        {"503", ScriptedResponse::reply(503, "{}"), 2, 2, 1, 50},
        {"429 with Retry-After",
         ScriptedResponse::reply(429, "{}").withHeader("Retry-After", "120"), 2, 2, 120, 50},
        {"413", ScriptedResponse::reply(413, "{}"), 2, 2, 0, 1},
        {"413 for one event", ScriptedResponse::reply(413, "{}"), 1, 0, 0, 50},
        {"400", ScriptedResponse::reply(400, R"({"error":"bad"})"), 2, 0, 0, 50},
        {"garbage", ScriptedResponse::garbage(), 2, 2, 1, 50},
        {"nothing", ScriptedResponse::closeConnection(), 2, 2, 1, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedHttpServer server;
        server.setDefault(c.response);
        ManualClock clock;
        NetworkQueue q(server.url("/"), clock);
        QStringList uuids;
        for (int i = 0; i < c.events; ++i) {
            const TelemetryEvent event = makeEvent("e", i);
            uuids.append(UuidV7::toText(event.uuid));
            q.queue->add(event);
        }
        ASSERT_TRUE(flushAndSettle(q, server));
        EXPECT_EQ(q.files().size(), c.keptAfterFault);
        EXPECT_EQ(q.queue->batchLimits().cap, c.capAfter);
        const auto until = q.queue->pausedUntil();
        EXPECT_NEAR(until ? std::chrono::duration<double>(*until - clock.now()).count() : 0,
                    c.pause, 1e-6);

        // The server recovers: what was kept is delivered, oldest first.
        server.setDefault(ScriptedResponse::reply(200, "{}"));
        server.clearRequests();
        clock.advance(std::chrono::duration<double>(c.pause));
        while (q.queue->depth() > 0) {
            ASSERT_TRUE(flushAndSettle(q, server));
            ASSERT_LE(server.requestCount(), c.events) << "the queue is stuck";
        }
        QStringList delivered;
        for (const RecordedRequest& request : server.requests())
            delivered += batchUuids(request.body);
        EXPECT_EQ(delivered, uuids.mid(c.events - c.keptAfterFault));
        EXPECT_TRUE(q.files().isEmpty());
    }
}

TEST(TelemetryQueueNetwork, KeepsOneUploadInFlightWhileTheServerIsSlow) {
    ScriptedHttpServer server;
    server.setDefault(ScriptedResponse::reply(200, "{}").heldUntilReleased());
    ManualClock clock;
    NetworkQueue q(server.url("/"), clock);
    q.queue->add(makeEvent("e"));
    q.queue->flush();
    ASSERT_TRUE(server.waitForRequests(1));
    for (int i = 0; i < 5; ++i) {
        q.queue->add(makeEvent("more", i));
        q.queue->flush();
    }
    ASSERT_TRUE(waitUntil([&] { return server.stalledCount() == 1; }));
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_TRUE(q.queue->isFlushing());
    server.setDefault(ScriptedResponse::reply(200, "{}"));
    server.release();
    ASSERT_TRUE(waitUntil([&] { return !q.queue->isFlushing(); }));
    EXPECT_EQ(q.queue->depth(), 5);
    ASSERT_TRUE(flushAndSettle(q, server));
    EXPECT_EQ(q.queue->depth(), 0);
}

TEST(TelemetryQueueNetwork, DeliversOverHttps) {
    ScriptedHttpServer::trustCertificateProcessWide();
    ScriptedHttpServer server(ScriptedHttpServer::Scheme::https);
    server.setDefault(ScriptedResponse::reply(200, "{}"));
    ManualClock clock;
    NetworkQueue q(server.url("/"), clock);
    q.queue->add(makeEvent("secure"));
    ASSERT_TRUE(flushAndSettle(q, server));
    EXPECT_EQ(q.queue->depth(), 0);
    EXPECT_EQ(server.requests().first().header("Content-Encoding"), "gzip");
}
