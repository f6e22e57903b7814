#include "QueueTestSupport.h"

#include "analytics/client/TelemetryFileBackedQueue.h"
#include "analytics/client/UuidV7.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

using namespace varno;
using namespace varno::test;

namespace {
void writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
}
} // namespace

TEST(TelemetryFileBackedQueue, ReindexesByCreationTimeAndTrimsToCapacityAtStart) {
    QTemporaryDir dir;
    // Created in one order, named in the opposite order.
    QStringList created;
    for (int i = 0; i < 5; ++i) {
        const QString name = QStringLiteral("%1").arg(9 - i);
        writeFile(dir.filePath(name), QByteArray::number(i));
        created.append(name);
        QThread::msleep(5); // creation times a few milliseconds apart
    }
    writeFile(dir.filePath(".leftover.tmp"), "{\"half");
    const bool birthTimes = QFileInfo(dir.filePath(created[0])).birthTime().isValid();

    LogCapture log;
    TelemetryFileBackedQueue queue(dir.path(), 3, {}, log.logger());
    QStringList expected = birthTimes ? created : QStringList{"5", "6", "7", "8", "9"};
    expected = expected.mid(2); // the two oldest go
    EXPECT_EQ(queue.names(), expected);
    EXPECT_TRUE(log.contains("Dropped 2 oldest cached records to enforce queue capacity"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3)
        << "the rest are deleted";

    // New records go to the end; a full queue drops its oldest.
    const auto added = queue.add("new");
    ASSERT_TRUE(added.stored);
    EXPECT_EQ(added.evicted, expected.first());
    EXPECT_EQ(queue.depth(), 3);
    EXPECT_EQ(queue.loadEntries(10).last().data, "new");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(expected.first())));

    // Removing ignores names the index does not hold.
    queue.remove({expected[1], "not-in-the-index"});
    EXPECT_EQ(queue.depth(), 2);
}

TEST(TelemetryFileBackedQueue, NamesFilesWithTimeOrderedUuidsAndWritesThemWhole) {
    QTemporaryDir dir;
    TelemetryFileBackedQueue queue(dir.path(), std::nullopt);
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(queue.add(QByteArray::number(i)).stored);
    const QStringList names = queue.names();
    QStringList sorted = names;
    sorted.sort();
    EXPECT_EQ(names, sorted);
    for (const QString& name : names)
        EXPECT_EQ(UuidV7::toText(QUuid(name)), name);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 50)
        << "no temporary files stay";

    // A failed write leaves neither a file nor an index entry; a folder that vanished
    // behind the queue's back does not break it.
    QString error;
    EXPECT_FALSE(TelemetryFileOps::writeAtomically(dir.filePath("missing/child"), "x", &error));
    EXPECT_FALSE(error.isEmpty());
    QDir(dir.path()).removeRecursively();
    EXPECT_FALSE(queue.add("x").stored);
    EXPECT_EQ(queue.depth(), 50);
    EXPECT_TRUE(queue.loadEntries(10).isEmpty());
    EXPECT_EQ(queue.depth(), 0) << "missing files leave the index";
}
