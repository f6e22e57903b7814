#include "QueueTestSupport.h"
#include "support/AwaitTask.h"
#include "support/ScriptedHttpServer.h"

#include "analytics/client/TelemetryQueue.h"
#include "analytics/client/UuidV7.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <gtest/gtest.h>

using namespace varno;
using namespace varno::test;
using namespace std::chrono_literals;

#ifdef VARNO_TOOL_TELEMETRY_QUEUE_WRITER

TEST(TelemetryQueueCrash, AfterSigkillTheNextStartUploadsEveryStoredEventAndDropsTornFiles) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("telemetry.queueFolder.uuid");

    // Large events make it likely that the kill lands in the middle of a write.
    QProcess writer;
    writer.start(QStringLiteral(VARNO_TOOL_TELEMETRY_QUEUE_WRITER), {dir.path(), "0", "65536"});
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
    const QList<QByteArray> lines = output.left(output.lastIndexOf('\n')).split('\n');
    QSet<QString> stored;
    for (const QByteArray& line : lines)
        stored.insert(QString::fromLatin1(line));
    ASSERT_GE(stored.size(), 40);

    // What a torn write looks like in a folder written without the temp-file step,
    // and the leftover of the temp-file step itself.
    const QString tornName = UuidV7::generateString();
    {
        QFile torn(QDir(folder).filePath(tornName));
        ASSERT_TRUE(torn.open(QIODevice::WriteOnly));
        torn.write(R"({"event":"torn","distinct_id":"x","properties":{"padding":"xxxx)");
        QFile temp(QDir(folder).filePath("." + UuidV7::generateString() + ".tmp"));
        ASSERT_TRUE(temp.open(QIODevice::WriteOnly));
        temp.write(R"({"event":"half)");
    }

    ScriptedHttpServer server;
    server.setDefault(ScriptedResponse::reply(200, "{}"));
    TelemetryConfig config = testConfig(server.url("/").toString());
    config.maxQueueSize = 1'000'000;
    ManualClock clock;
    TelemetryEventQueue queue(config, dir.path(),
                              telemetryEventsEndpoint(std::make_shared<TelemetryApi>(config)),
                              {clock.function(), {}, {}, {}});
    EXPECT_FALSE(queue.fileQueue().names().contains(".tmp")) << "leftovers are not events";
    queue.start();
    int rounds = 0;
    while (queue.depth() > 0 && rounds++ < 200) {
        const int before = server.requestCount();
        queue.flush();
        ASSERT_TRUE(
            waitUntil([&] { return server.requestCount() > before || queue.depth() == 0; }, 15s));
        ASSERT_TRUE(waitUntil([&] { return !queue.isFlushing(); }, 15s));
    }
    ASSERT_EQ(queue.depth(), 0) << "the queue got stuck";

    QStringList uploaded;
    for (const RecordedRequest& request : server.requests())
        uploaded += batchUuids(request.body);
    const QSet<QString> uploadedSet(uploaded.cbegin(), uploaded.cend());
    EXPECT_EQ(uploadedSet.size(), uploaded.size()) << "no event is sent twice";
    for (const QString& id : stored)
        EXPECT_TRUE(uploadedSet.contains(id)) << "lost " << id.toStdString();
    // At most the one event that was stored but not yet reported when the kill came.
    EXPECT_LE(uploadedSet.size(), stored.size() + 1);
    EXPECT_FALSE(uploadedSet.contains(tornName));
    EXPECT_TRUE(
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

#endif
