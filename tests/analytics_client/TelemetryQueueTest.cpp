#include "QueueTestSupport.h"
#include "support/AwaitTask.h"

#include "analytics/client/TelemetryQueue.h"
#include "analytics/client/UuidV7.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>

using namespace varno;
using namespace varno::test;
using namespace std::chrono_literals;

namespace {

void spin(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

class QueueTest : public ::testing::Test {
protected:
    std::unique_ptr<TelemetryEventQueue>
    makeQueue(const TelemetryConfig& config = testConfig(),
              std::shared_ptr<TelemetryReachability> reachability = {},
              TelemetryFileOps fileOps = {}) {
        QueueEndpoint<TelemetryEvent> endpoint =
            telemetryEventsEndpoint(std::make_shared<TelemetryApi>(config));
        endpoint.send = sender.send();
        return std::make_unique<TelemetryEventQueue>(
            config, dir.path(), endpoint,
            TelemetryQueueEnvironment{clock.function(), std::move(reachability), std::move(fileOps),
                                      log.logger()});
    }

    QString queueFolder() const { return dir.filePath("telemetry.queueFolder.uuid"); }
    QStringList filesOnDisk() const {
        return QDir(queueFolder()).entryList(QDir::Files, QDir::Name);
    }
    void writeFile(const QString& name, const QByteArray& data) const {
        QDir().mkpath(queueFolder());
        QFile file(QDir(queueFolder()).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }
    // Waits for the worker to settle after an answer.
    void settle(TelemetryEventQueue& queue) {
        ASSERT_TRUE(waitUntil([&] { return !queue.isFlushing(); }));
    }
    double pauseSeconds(const TelemetryEventQueue& queue) const {
        const auto until = queue.pausedUntil();
        return until ? std::chrono::duration<double>(*until - clock.now()).count() : -1;
    }

    QTemporaryDir dir;
    ManualClock clock;
    LogCapture log;
    FakeSender sender;
};

} // namespace

TEST_F(QueueTest, UploadsAtTheThresholdOnTheTimerAndKeepsOneUploadInFlight) {
    TelemetryConfig config = testConfig();
    config.flushAt = 3;
    auto queue = makeQueue(config);
    queue->add(makeEvent("e", 0));
    queue->add(makeEvent("e", 1));
    queue->add(makeEvent("e", 2));
    spin(50ms);
    EXPECT_EQ(sender.count(), 0) << "nothing is sent before start";

    queue->start();
    queue->add(makeEvent("e", 3)); // depth 4 >= 3
    ASSERT_TRUE(waitUntil([&] { return sender.count() == 1; }));
    QList<int> indexes;
    for (const TelemetryEvent& event : sender.events(0))
        indexes.append(event.properties.value("index").toInt());
    EXPECT_EQ(indexes, (QList<int>{0, 1, 2, 3})) << "oldest first";

    // While that batch is out, more flushes change nothing.
    queue->flush();
    queue->add(makeEvent("e", 4));
    ASSERT_TRUE(waitUntil([&] { return log.contains("Already flushing"); }));
    spin(30ms);
    EXPECT_EQ(sender.count(), 1);
    EXPECT_EQ(filesOnDisk().size(), 5);

    sender.answerStatus(0, 200);
    ASSERT_TRUE(waitUntil([&] { return queue->depth() == 1 && !queue->isFlushing(); }));
    EXPECT_EQ(filesOnDisk().size(), 1);
    EXPECT_TRUE(log.contains("[Telemetry] Completed!"));

    // Below the threshold, the repeating timer sends what is left.
    TelemetryConfig timed = testConfig();
    timed.flushIntervalSeconds = 0.05;
    FakeSender second;
    QueueEndpoint<TelemetryEvent> endpoint =
        telemetryEventsEndpoint(std::make_shared<TelemetryApi>(timed));
    endpoint.send = second.send();
    QTemporaryDir otherDir;
    TelemetryEventQueue timedQueue(timed, otherDir.path(), endpoint,
                                   {clock.function(), {}, {}, {}});
    timedQueue.add(makeEvent("lonely"));
    timedQueue.start();
    ASSERT_TRUE(waitUntil([&] { return second.count() == 1; }));
    EXPECT_TRUE(timedQueue.isTimerRunning());
    second.answerStatus(0, 200);
    ASSERT_TRUE(waitUntil([&] { return timedQueue.depth() == 0; }));
    timedQueue.stop();
    ASSERT_TRUE(waitUntil([&] { return !timedQueue.isTimerRunning(); }));
    timedQueue.add(makeEvent("after stop"));
    spin(200ms);
    EXPECT_EQ(second.count(), 1) << "a stopped queue has no timer";
}

TEST_F(QueueTest, BacksOffLinearlyOrByRetryAfterAndRecoversOnTheNextSuccessOrClientError) {
    auto queue = makeQueue();
    queue->start();
    queue->add(makeEvent("e"));

    struct Step {
        TelemetryUploadInfo answer;
        double expectedPause;
    };
    const std::vector<Step> steps = {
        {{std::nullopt, QString("connection closed"), std::nullopt}, 1}, // no HTTP answer at all
        {{503, std::nullopt, std::nullopt}, 2},
        {{-1, std::nullopt, std::nullopt}, 3},
        {{429, std::nullopt, 120.0}, 120}, // Retry-After longer than the back-off
        {{500, std::nullopt, 0.0}, 5},     // a date in the past counts as 0
        {{308, std::nullopt, std::nullopt}, 6},
        {{408, std::nullopt, std::nullopt}, 7},
    };
    int batch = 0;
    for (const Step& step : steps) {
        queue->flush();
        ASSERT_TRUE(waitUntil([&] { return sender.count() == batch + 1; })) << batch;
        sender.answer(batch++, step.answer);
        settle(*queue);
        ASSERT_TRUE(waitUntil([&] { return queue->pausedUntil().has_value(); }));
        EXPECT_NEAR(pauseSeconds(*queue), step.expectedPause, 1e-6) << "step " << batch;
        EXPECT_EQ(queue->depth(), 1) << "a retried batch stays on disk";

        // While paused a flush sends nothing, until the clock passes the pause.
        queue->flush();
        EXPECT_TRUE(log.contains("The queue is paused until"));
        clock.advance(std::chrono::duration<double>(step.expectedPause - 0.01));
        queue->flush();
        spin(20ms);
        EXPECT_EQ(sender.count(), batch);
        clock.advance(20ms);
    }
    EXPECT_EQ(queue->retryCount(), 7);

    // The back-off grows no further than 30 seconds.
    for (int i = 0; i < 30; ++i) {
        queue->flush();
        ASSERT_TRUE(waitUntil([&] { return sender.count() == batch + 1; }));
        sender.answerStatus(batch++, 502);
        settle(*queue);
        clock.advance(31s);
    }
    clock.advance(-31s);
    EXPECT_EQ(queue->retryCount(), 30);
    EXPECT_NEAR(pauseSeconds(*queue), 30, 1e-6);
    clock.advance(31s);

    // A client error ends the back-off and drops the batch.
    queue->flush();
    ASSERT_TRUE(waitUntil([&] { return sender.count() == batch + 1; }));
    sender.answerStatus(batch++, 400);
    ASSERT_TRUE(waitUntil([&] { return queue->depth() == 0; }));
    settle(*queue);
    EXPECT_EQ(queue->retryCount(), 0);
    EXPECT_FALSE(queue->pausedUntil());
    EXPECT_TRUE(filesOnDisk().isEmpty());
}

TEST_F(QueueTest, HalvesTheBatchOn413AndDropsASingletonThatIsStillTooLarge) {
    auto queue = makeQueue(); // cap 50, flushAt 20
    for (int i = 0; i < 60; ++i)
        queue->add(makeEvent("e", i));
    queue->start();

    queue->flush();
    ASSERT_TRUE(waitUntil([&] { return sender.count() == 1; }));
    EXPECT_EQ(sender.events(0).size(), 50);
    sender.answerStatus(0, 413);
    settle(*queue);
    EXPECT_EQ(queue->batchLimits().cap, 25);
    EXPECT_EQ(queue->batchLimits().flushAt, 10);
    EXPECT_FALSE(queue->pausedUntil()) << "a 413 does not pause";
    EXPECT_EQ(queue->depth(), 60);

    queue->flush();
    ASSERT_TRUE(waitUntil([&] { return sender.count() == 2; }));
    EXPECT_EQ(sender.events(1).size(), 25);
    sender.answerStatus(1, 413);
    settle(*queue);
    EXPECT_EQ(queue->batchLimits().cap, 12);
    EXPECT_EQ(queue->batchLimits().flushAt, 5);

    queue->flush();
    ASSERT_TRUE(waitUntil([&] { return sender.count() == 3; }));
    EXPECT_EQ(sender.events(2).size(), 12);
    EXPECT_EQ(sender.events(2).first().properties.value("index").toInt(), 0);
    sender.answerStatus(2, 200);
    ASSERT_TRUE(waitUntil([&] { return queue->depth() == 48; }));

    // With the cap down to 1, a 413 deletes that one record.
    TelemetryConfig tiny = testConfig();
    tiny.maxBatchSize = 1;
    QTemporaryDir otherDir;
    FakeSender single;
    QueueEndpoint<TelemetryEvent> endpoint =
        telemetryEventsEndpoint(std::make_shared<TelemetryApi>(tiny));
    endpoint.send = single.send();
    TelemetryEventQueue one(tiny, otherDir.path(), endpoint,
                            {clock.function(), {}, {}, log.logger()});
    one.add(makeEvent("huge", 0));
    one.add(makeEvent("next", 1));
    one.start();
    one.flush();
    ASSERT_TRUE(waitUntil([&] { return single.count() == 1; }));
    single.answerStatus(0, 413);
    ASSERT_TRUE(waitUntil([&] { return one.depth() == 1; }));
    EXPECT_TRUE(log.contains("dropping singleton batch after HTTP 413"));
    EXPECT_EQ(one.batchLimits().cap, 1);
}

TEST_F(QueueTest, DropsFilesThatAreNotEventsWithTheirBatchAndNeverSendsThem) {
    const TelemetryEvent valid = makeEvent("valid");
    const QByteArray complete = makeEvent("torn").encode();
    writeFile(UuidV7::generateString(), "this is { not json");
    writeFile(UuidV7::generateString(), valid.encode());
    writeFile(UuidV7::generateString(), complete.left(complete.size() - 7)); // truncated
    writeFile(UuidV7::generateString(), "");
    auto queue = makeQueue();
    EXPECT_EQ(queue->depth(), 4);
    queue->start();
    queue->flush();
    ASSERT_TRUE(waitUntil([&] { return sender.count() == 1; }));
    ASSERT_EQ(sender.events(0).size(), 1);
    EXPECT_EQ(sender.events(0).first().uuid, valid.uuid);
    sender.answerStatus(0, 200);
    ASSERT_TRUE(waitUntil([&] { return queue->depth() == 0; }));
    EXPECT_TRUE(filesOnDisk().isEmpty());

    // A batch of nothing but bad files is dropped without a request.
    writeFile(UuidV7::generateString(), "[1,2");
    queue->fileQueue().reindexFromDisk();
    queue->flush();
    ASSERT_TRUE(waitUntil([&] { return queue->depth() == 0 && !queue->isFlushing(); }));
    EXPECT_EQ(sender.count(), 1);
    EXPECT_TRUE(filesOnDisk().isEmpty());
}

TEST_F(QueueTest, SurvivesMissingUnreadableAndUnwritableFiles) {
    std::atomic<bool> diskFull{false};
    std::atomic<bool> locked{false};
    QString lockedName;
    QMutex nameLock;
    TelemetryFileOps ops;
    ops.write = [&](const QString& path, const QByteArray& data, QString* error) {
        if (diskFull) {
            *error = QStringLiteral("No space left on device");
            return false;
        }
        return TelemetryFileOps::writeAtomically(path, data, error);
    };
    ops.read = [&](const QString& path, int* code, QString* error) -> std::optional<QByteArray> {
        QMutexLocker lock(&nameLock);
        if (locked && path.endsWith(lockedName)) {
            *code = EACCES;
            *error = QStringLiteral("Permission denied");
            return std::nullopt;
        }
        return TelemetryFileOps::readWhole(path, code, error);
    };
    auto queue = makeQueue(testConfig(), {}, ops);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(queue->add(makeEvent("e", i)));

    // Full disk: the event is refused, nothing else changes, and the next write works.
    diskFull = true;
    EXPECT_FALSE(queue->add(makeEvent("lost")));
    EXPECT_TRUE(log.contains("Could not write file No space left on device"));
    EXPECT_EQ(queue->depth(), 5);
    EXPECT_EQ(filesOnDisk().size(), 5);
    diskFull = false;

    const QStringList names = queue->fileQueue().names();
    QFile::remove(QDir(queueFolder()).filePath(names[0])); // missing
    QDir(queueFolder()).remove(names[1]);
    QDir(queueFolder()).mkdir(names[1]); // unreadable as a file
    {
        QMutexLocker lock(&nameLock);
        lockedName = names[3]; // refused for lack of permission
    }
    locked = true;

    queue->start();
    queue->flush();
    ASSERT_TRUE(waitUntil([&] { return sender.count() == 1; }));
    ASSERT_EQ(sender.events(0).size(), 1) << "the load stops at the refused file";
    EXPECT_EQ(sender.events(0).first().properties.value("index").toInt(), 2);
    EXPECT_TRUE(log.contains("does not exist"));
    EXPECT_TRUE(log.contains("is corrupted"));
    EXPECT_TRUE(log.contains("is temporarily unavailable, will retry"));
    sender.answerStatus(0, 200);
    ASSERT_TRUE(waitUntil([&] { return queue->depth() == 2 && !queue->isFlushing(); }));
    EXPECT_EQ(queue->fileQueue().names(), (QStringList{names[3], names[4]}));
    EXPECT_FALSE(QFileInfo::exists(QDir(queueFolder()).filePath(names[1])));

    locked = false; // readable again: retried on the next flush
    ASSERT_TRUE(queue->add(makeEvent("e", 5)));
    queue->flush();
    ASSERT_TRUE(waitUntil([&] { return sender.count() == 2; }));
    EXPECT_EQ(sender.events(1).size(), 3);
    sender.answerStatus(1, 200);
    ASSERT_TRUE(waitUntil([&] { return queue->depth() == 0; }));
}

TEST_F(QueueTest, WaitsForTheNetworkAndFlushesOnceItComesBack) {
    auto reachability =
        std::make_shared<TelemetryManualReachability>(TelemetryReachability::Connection::none);
    TelemetryConfig config = testConfig();
    config.flushAt = 2;
    auto queue = makeQueue(config, reachability);
    queue->start();
    queue->add(makeEvent("offline", 0));
    queue->add(makeEvent("offline", 1));
    queue->flush();
    spin(50ms);
    EXPECT_EQ(sender.count(), 0);
    EXPECT_TRUE(queue->isPaused());
    EXPECT_TRUE(log.contains("The queue is paused due to the reachability check"));

    reachability->setConnection(TelemetryReachability::Connection::wifi);
    ASSERT_TRUE(waitUntil([&] { return sender.count() == 1; }));
    EXPECT_EQ(sender.events(0).size(), 2);
    sender.answerStatus(0, 200);
    settle(*queue);

    reachability->setConnection(TelemetryReachability::Connection::none);
    ASSERT_TRUE(waitUntil([&] { return queue->isPaused(); }));
    reachability->setConnection(
        TelemetryReachability::Connection::cellular); // any connection will do
    ASSERT_TRUE(waitUntil([&] { return !queue->isPaused(); }));

    // Wi-Fi only: a cellular connection keeps the queue paused.
    TelemetryConfig wifiOnly = testConfig();
    wifiOnly.dataMode = TelemetryConfig::DataMode::wifi;
    QTemporaryDir otherDir;
    QueueEndpoint<TelemetryEvent> endpoint =
        telemetryEventsEndpoint(std::make_shared<TelemetryApi>(wifiOnly));
    FakeSender other;
    endpoint.send = other.send();
    TelemetryEventQueue strict(wifiOnly, otherDir.path(), endpoint,
                               {clock.function(), reachability, {}, {}});
    strict.start();
    EXPECT_TRUE(strict.isPaused());

    // After stop the monitor is no longer followed.
    queue->stop();
    reachability->setConnection(TelemetryReachability::Connection::none);
    spin(30ms);
    EXPECT_FALSE(queue->isPaused());
}

TEST_F(QueueTest, KeepsTheNewestEventsWithinCapacity) {
    TelemetryConfig config = testConfig();
    config.maxQueueSize = 5;
    auto queue = makeQueue(config);
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(queue->add(makeEvent("e", i)));
    EXPECT_EQ(queue->depth(), 5);
    EXPECT_EQ(filesOnDisk().size(), 5);
    EXPECT_TRUE(log.contains("[Telemetry] Queue is full, dropping oldest record"));
    const auto first = TelemetryEvent::decode(queue->fileQueue().loadEntries(1).first().data);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->properties.value("index").toInt(), 1);

    // Encoding failure: nothing is stored.
    QueueEndpoint<TelemetryEvent> endpoint =
        telemetryEventsEndpoint(std::make_shared<TelemetryApi>(config));
    endpoint.encode = [](const TelemetryEvent&) { return std::optional<QByteArray>(); };
    QTemporaryDir otherDir;
    TelemetryEventQueue refusing(config, otherDir.path(), endpoint,
                                 {clock.function(), {}, {}, log.logger()});
    EXPECT_FALSE(refusing.add(makeEvent("x")));
    EXPECT_EQ(refusing.depth(), 0);
    EXPECT_TRUE(log.contains("Tried to queue unserialisable record"));
}

TEST_F(QueueTest, MovesOldQueuesIntoTheCurrentFolder) {
    const TelemetryEvent fromFolder = makeEvent("old folder");
    const TelemetryEvent fromFile = makeEvent("old file");
    QDir(dir.path()).mkpath("telemetry.queueFolder");
    {
        QFile file(dir.filePath("telemetry.queueFolder/" + UuidV7::generateString()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(fromFolder.encode());
        QFile list(dir.filePath("telemetry.queue.plist"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write(QJsonDocument(QJsonArray{fromFile.toJSON()}).toJson());
    }
    auto queue = makeQueue();
    EXPECT_EQ(queue->depth(), 2);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("telemetry.queueFolder")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("telemetry.queue.plist")));
    QSet<QUuid> found;
    for (const auto& entry : queue->fileQueue().loadEntries(10))
        found.insert(TelemetryEvent::decode(entry.data)->uuid);
    EXPECT_EQ(found, (QSet<QUuid>{fromFolder.uuid, fromFile.uuid}));

    // An old file in another shape is left alone and does not stop the setup.
    queue.reset();
    {
        QFile list(dir.filePath("telemetry.queue.plist"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write("<plist>binary</plist>");
    }
    queue = makeQueue();
    EXPECT_EQ(queue->depth(), 2);
    EXPECT_TRUE(log.contains("[Telemetry] Failed to migrate queue: invalid data format"));
}
