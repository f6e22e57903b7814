// SPDX-License-Identifier: MIT
#include "Support.h"

#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <cerrno>

using namespace varno;
using namespace varno::test;

TEST(TelemetryQueue, UploadsAtTheThresholdOrOnTheTimerWithOneUploadInFlight) {
    QueueHarness h(ScriptedResponse::reply(200, "{}").heldUntilReleased());
    TelemetryConfig config = h.config();
    config.flushAt = 3;
    auto& queue = h.make(config);
    QStringList sent = h.add(3); // not started yet: nothing goes out
    queue.start();
    sent += h.add(1); // depth 4 reaches the threshold
    ASSERT_TRUE(h.server.waitForRequests(1));
    EXPECT_EQ(h.delivered(), sent) << "one batch, oldest first";

    // While that upload is out, further flushes send nothing.
    h.add(1);
    queue.flush();
    ASSERT_TRUE(waitUntil([&] { return h.log.count("Already flushing") >= 2; }));
    EXPECT_EQ(h.server.requestCount(), 1);
    EXPECT_EQ(h.files().size(), 5);
    h.server.setDefault(ScriptedResponse::reply(200, "{}"));
    h.server.release();
    ASSERT_TRUE(waitUntil([&] { return queue.depth() == 1 && !queue.isFlushing(); }));
    EXPECT_EQ(h.files().size(), 1);

    // Below the threshold the repeating timer sends what is left, until stopped.
    config.flushIntervalSeconds = 0.05;
    auto& timed = h.make(config);
    timed.start();
    ASSERT_TRUE(waitUntil([&] { return timed.depth() == 0 && h.server.requestCount() == 2; }));
    EXPECT_TRUE(timed.isTimerRunning());
    timed.stop();
    EXPECT_TRUE(waitUntil([&] { return !timed.isTimerRunning(); }));
}

TEST(TelemetryQueue, BacksOffLinearlyUpTo30SecondsOrByRetryAfterUntilAClientError) {
    QueueHarness h;
    auto& queue = h.make(h.config());
    queue.start();
    h.add(1);
    struct Step {
        ScriptedResponse answer;
        double pause;
    };
    std::vector<Step> steps = {
        {ScriptedResponse::closeConnection(), 1}, // no HTTP answer at all
        {ScriptedResponse::reply(503), 2},
        {ScriptedResponse::reply(429).withHeader("Retry-After", "120"), 120}, // longer wins
        {ScriptedResponse::reply(500).withHeader("Retry-After", "Mon, 01 Jan 2024 00:00:00 GMT"),
         4}, // a date in the past counts as 0
    };
    for (int failures = 5; failures <= 32; ++failures)
        steps.push_back({ScriptedResponse::reply(502), std::min(failures, 30) * 1.0});
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        h.server.setDefault(steps[i].answer);
        ASSERT_TRUE(h.flushAndSettle());
        EXPECT_NEAR(h.pause(), steps[i].pause, 1e-6);
        EXPECT_EQ(h.files().size(), 1) << "a retried batch stays on disk";

        // A flush just before the pause ends sends nothing.
        h.advance(std::chrono::duration<double>(steps[i].pause - 0.01));
        const int requests = h.server.requestCount();
        queue.flush();
        ASSERT_TRUE(waitUntil(
            [&] { return h.log.count("The queue is paused until") == qsizetype(i) + 1; }));
        EXPECT_EQ(h.server.requestCount(), requests);
        h.advance(20ms);
    }
    EXPECT_EQ(queue.retryCount(), 30);

    // A client error ends the back-off and drops the batch.
    h.server.setDefault(ScriptedResponse::reply(400, R"({"error":"bad"})"));
    ASSERT_TRUE(h.flushAndSettle());
    EXPECT_EQ(queue.depth(), 0);
    EXPECT_EQ(queue.retryCount(), 0);
    EXPECT_FALSE(queue.pausedUntil());
    EXPECT_TRUE(h.files().isEmpty());
}

TEST(TelemetryQueue, EveryServerFaultFollowsTheRulesAndNeverSticksTheQueue) {
    struct Case {
        std::string name;
        ScriptedResponse response;
        int events;
        int kept;     // files left after the faulty answer
        double pause; // seconds of back-off
        int cap;      // the batch cap afterwards
    };
    // Where the redirects point; an upload must never reach it.
    ScriptedHttpServer elsewhere;
    elsewhere.setDefault(ScriptedResponse::reply(200, "{}"));
    const auto redirect = [&](int status) {
        return ScriptedResponse::reply(status).withHeader("Location",
                                                          elsewhere.url("/batch").toEncoded());
    };
    std::vector<Case> cases = {
        {"500", ScriptedResponse::reply(500, "oops", "text/plain"), 2, 2, 1, 50},
        {"429 with Retry-After",
         ScriptedResponse::reply(429, "{}").withHeader("Retry-After", "120"), 2, 2, 120, 50},
        {"413 halves the cap", ScriptedResponse::reply(413, "{}"), 5, 5, 0, 2},
        {"413 for one event drops it", ScriptedResponse::reply(413, "{}"), 1, 0, 0, 50},
        {"400 drops the batch", ScriptedResponse::reply(400, R"({"error":"bad"})"), 2, 0, 0, 50},
        {"garbage", ScriptedResponse::garbage(), 2, 2, 1, 50},
        {"no answer", ScriptedResponse::closeConnection(), 2, 2, 1, 50},
    };
    for (const int status : {301, 302, 307, 308})
        cases.push_back({std::to_string(status), redirect(status), 2, 2, 1, 50});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        elsewhere.clearRequests();
        QueueHarness h(c.response);
        auto& queue = h.make(h.config());
        queue.start();
        const QStringList uuids = h.add(c.events);
        ASSERT_TRUE(h.flushAndSettle());
        EXPECT_EQ(h.files().size(), c.kept);
        EXPECT_EQ(queue.batchLimits().cap, c.cap);
        EXPECT_NEAR(h.pause(), c.pause, 1e-6);

        // The server recovers: what was kept is delivered, oldest first.
        h.server.setDefault(ScriptedResponse::reply(200, "{}"));
        h.server.clearRequests();
        h.advance(std::chrono::duration<double>(c.pause));
        while (queue.depth() > 0) {
            ASSERT_TRUE(h.flushAndSettle());
            ASSERT_LE(h.server.requestCount(), c.events) << "the queue is stuck";
        }
        EXPECT_EQ(h.delivered(), uuids.mid(c.events - c.kept));
        EXPECT_TRUE(h.files().isEmpty());
        EXPECT_EQ(elsewhere.requestCount(), 0);
    }
}

TEST(TelemetryQueue, SkipsBadMissingAndUnreadableFilesAndSurvivesAFullDisk) {
    QueueHarness h;
    std::atomic<bool> diskFull{false};
    std::atomic<bool> refuseThird{true}; // the event with index 3 is refused for lack of permission
    TelemetryFileOps ops;
    ops.write = [&](const QString& path, const QByteArray& data, QString* error) {
        if (diskFull)
            *error = QStringLiteral("No space left on device");
        return !diskFull && TelemetryFileOps::writeAtomically(path, data, error);
    };
    ops.read = [&](const QString& path, int* code, QString* error) -> std::optional<QByteArray> {
        std::optional<QByteArray> data = TelemetryFileOps::readWhole(path, code, error);
        if (refuseThird && data && data->contains(R"("index":3)")) {
            *code = EACCES;
            return std::nullopt;
        }
        return data;
    };
    const TelemetryEvent valid = makeEvent("valid");
    const QByteArray whole = makeEvent("torn").encode();
    for (const QByteArray& data : {QByteArray("this is { not json"), valid.encode(),
                                   whole.left(whole.size() - 7), QByteArray(), QByteArray("[]")})
        h.writeFile(UuidV7::generateString(), data);
    auto& queue = h.make(h.config(), {}, ops);
    const QStringList added = h.add(5);

    // Full disk: the event is refused, nothing else changes, and the next write works.
    diskFull = true;
    EXPECT_FALSE(queue.add(makeEvent("lost")));
    EXPECT_TRUE(h.log.contains("Could not write file No space left on device"));
    EXPECT_EQ(h.files().size(), 10);
    diskFull = false;

    const QStringList names = queue.fileQueue().names().mid(5);
    QDir folder(h.folder());
    folder.remove(names[0]); // missing
    folder.remove(names[1]);
    folder.mkdir(names[1]); // unreadable as a file
    queue.start();
    ASSERT_TRUE(h.flushAndSettle());
    EXPECT_EQ(h.delivered(), (QStringList{UuidV7::toText(valid.uuid), added[2]}))
        << "bad files are never sent and the load stops at the refused one";
    EXPECT_TRUE(h.log.contains("does not exist"));
    EXPECT_TRUE(h.log.contains("is corrupted"));
    EXPECT_TRUE(h.log.contains("is temporarily unavailable, will retry"));
    EXPECT_EQ(h.files(), (QStringList{names[3], names[4]}));
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(names[1])));

    refuseThird = false; // readable again: sent with the next flush
    ASSERT_TRUE(h.flushAndSettle());
    EXPECT_EQ(h.delivered().mid(2), added.mid(3));
    EXPECT_TRUE(h.files().isEmpty());

    // A batch of nothing but bad files is dropped without a request.
    h.writeFile(UuidV7::generateString(), "[1,2");
    queue.fileQueue().reindexFromDisk();
    ASSERT_TRUE(h.flushAndSettle());
    EXPECT_EQ(h.server.requestCount(), 2);
    EXPECT_TRUE(h.files().isEmpty());

    // The folder deleted while the queue runs: the next event makes it again; only the
    // event whose file went with the folder is lost.
    h.add(1);
    ASSERT_TRUE(QDir(h.folder()).removeRecursively());
    const QStringList afterDeletion = h.add(2);
    EXPECT_EQ(h.files().size(), 2);
    ASSERT_TRUE(h.flushAndSettle());
    EXPECT_EQ(h.delivered().mid(4), afterDeletion);
    EXPECT_TRUE(h.files().isEmpty());
}

TEST(TelemetryQueue, WaitsForTheNetworkAndFlushesOnceItComesBack) {
    QueueHarness h;
    auto reachability =
        std::make_shared<TelemetryManualReachability>(TelemetryReachability::Connection::none);
    auto& queue = h.make(h.config(), reachability);
    queue.start();
    h.add(2);
    queue.flush();
    ASSERT_TRUE(waitUntil(
        [&] { return h.log.contains("The queue is paused due to the reachability check"); }));
    EXPECT_TRUE(queue.isPaused());
    EXPECT_EQ(h.server.requestCount(), 0);
    reachability->setConnection(TelemetryReachability::Connection::cellular); // any will do
    ASSERT_TRUE(waitUntil([&] { return queue.depth() == 0; }));

    // Wi-Fi only: a cellular connection keeps the queue paused.
    TelemetryConfig wifiOnly = h.config();
    wifiOnly.dataMode = TelemetryConfig::DataMode::wifi;
    auto& strict = h.make(wifiOnly, reachability);
    strict.start();
    EXPECT_TRUE(strict.isPaused());
    reachability->setConnection(TelemetryReachability::Connection::wifi);
    EXPECT_TRUE(waitUntil([&] { return !strict.isPaused(); }));
}

TEST(TelemetryQueue, ReindexesOldestFirstAtStartAndKeepsTheNewestWithinCapacity) {
    QueueHarness h;
    // Created in one order, named in the opposite order.
    QStringList created;
    for (int i = 0; i < 5; ++i) {
        created.append(QString::number(9 - i));
        h.writeFile(created.last(), QByteArray::number(i));
        // File times come from the kernel's coarse clock (a jiffy, up to 10 ms).
        QThread::msleep(25);
    }
    h.writeFile(".leftover.tmp", "{\"half"); // an interrupted write
    const bool birthTimes = QFileInfo(h.folder() + "/" + created[0]).birthTime().isValid();

    TelemetryFileBackedQueue queue(h.folder(), 3, {}, h.log.logger());
    // Where the file system keeps no creation time, the (time-ordered) names decide.
    const QStringList expected =
        (birthTimes ? created : QStringList{"5", "6", "7", "8", "9"}).mid(2);
    EXPECT_EQ(queue.names(), expected);
    EXPECT_TRUE(h.log.contains("Dropped 2 oldest cached records to enforce queue capacity"));
    EXPECT_EQ(h.files().size(), 3);

    // A full queue drops its oldest to store a new record, named by a time-ordered uuid.
    const auto added = queue.add("new");
    ASSERT_TRUE(added.stored);
    EXPECT_EQ(added.evicted, expected.first());
    EXPECT_EQ(queue.names().mid(0, 2), expected.mid(1));
    EXPECT_TRUE(isUuidV7(queue.names().last()));
    EXPECT_EQ(h.files().size(), 3);
}

TEST(TelemetryQueue, MovesOldQueuesIntoTheCurrentFolder) {
    QueueHarness h;
    const TelemetryEvent fromFolder = makeEvent("old folder");
    const TelemetryEvent fromFile = makeEvent("old file");
    ASSERT_TRUE(writeFile(h.dir.filePath("telemetry.queueFolder/" + UuidV7::generateString()),
                          fromFolder.encode()));
    ASSERT_TRUE(writeFile(h.dir.filePath("telemetry.queue.plist"),
                          QJsonDocument(QJsonArray{fromFile.toJSON()}).toJson()));
    auto& queue = h.make(h.config());
    EXPECT_FALSE(QFileInfo::exists(h.dir.filePath("telemetry.queueFolder")));
    EXPECT_FALSE(QFileInfo::exists(h.dir.filePath("telemetry.queue.plist")));
    queue.start();
    ASSERT_TRUE(h.flushAndSettle());
    const QStringList sent = h.delivered();
    EXPECT_EQ(QSet<QString>(sent.begin(), sent.end()),
              (QSet<QString>{UuidV7::toText(fromFolder.uuid), UuidV7::toText(fromFile.uuid)}));

    // An old file in another shape is left alone and does not stop the queue.
    ASSERT_TRUE(writeFile(h.dir.filePath("telemetry.queue.plist"), "<plist>binary</plist>"));
    auto& next = h.make(h.config());
    EXPECT_TRUE(h.log.contains("[Telemetry] Failed to migrate queue: invalid data format"));
    EXPECT_TRUE(QFileInfo::exists(h.dir.filePath("telemetry.queue.plist")));
    next.start();
    const QStringList added = h.add(1);
    ASSERT_TRUE(h.flushAndSettle());
    EXPECT_EQ(h.delivered().mid(2), added);
}

#ifdef VARNO_TOOL_TELEMETRY_QUEUE_WRITER

TEST(TelemetryQueue, AfterSigkillTheNextStartUploadsEveryStoredEventAndDropsTornFiles) {
    QueueHarness h;
    // Large events make it likely that the kill lands in the middle of a write.
    QProcess writer;
    writer.start(QStringLiteral(VARNO_TOOL_TELEMETRY_QUEUE_WRITER), {h.dir.path(), "0", "65536"});
    ASSERT_TRUE(writer.waitForStarted(5000));
    QByteArray output;
    ASSERT_TRUE(waitUntil(
        [&] {
            output += writer.readAllStandardOutput();
            return output.count('\n') >= 40;
        },
        15s));
    writer.kill(); // SIGKILL
    ASSERT_TRUE(writer.waitForFinished(5000));
    output += writer.readAllStandardOutput();
    // Only whole lines name events the writer saw stored.
    QSet<QString> stored;
    for (const QByteArray& line : output.left(output.lastIndexOf('\n')).split('\n'))
        stored.insert(QString::fromLatin1(line));
    ASSERT_GE(stored.size(), 40);

    // What a torn write looks like where no temporary file was used, and the leftover
    // of the temporary-file step itself.
    const QString torn = UuidV7::generateString();
    h.writeFile(torn, R"({"event":"torn","distinct_id":"x","properties":{"padding":"xxxx)");
    h.writeFile("." + UuidV7::generateString() + ".tmp", R"({"event":"half)");

    TelemetryConfig config = h.config();
    config.maxQueueSize = 1'000'000;
    auto& queue = h.make(config);
    queue.start();
    for (int rounds = 0; queue.depth() > 0 && rounds < 200; ++rounds)
        ASSERT_TRUE(h.flushAndSettle());
    ASSERT_EQ(queue.depth(), 0) << "the queue got stuck";

    const QStringList uploaded = h.delivered();
    const QSet<QString> uploadedSet(uploaded.cbegin(), uploaded.cend());
    EXPECT_EQ(uploadedSet.size(), uploaded.size()) << "no event is sent twice";
    EXPECT_TRUE(uploadedSet.contains(stored));
    // At most the one event that was stored but not yet reported when the kill came.
    EXPECT_LE(uploadedSet.size(), stored.size() + 1);
    EXPECT_FALSE(uploadedSet.contains(torn));
    EXPECT_TRUE(h.files().isEmpty());
}

#endif
