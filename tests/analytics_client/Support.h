// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetrySDK.h"
#include "analytics/client/UuidV7.h"
#include "support/AwaitTask.h"
#include "support/Files.h"
#include "support/ScriptedHttpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

namespace varno::test {

using namespace std::chrono_literals;

inline bool isUuidV7(const QString& text) {
    static const QRegularExpression shape(
        QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"));
    return shape.match(text).hasMatch();
}

// The client's debug lines, from any thread.
class LineLog {
public:
    TelemetryLogger logger() {
        return [this](const QString& line) {
            QMutexLocker lock(&mutex_);
            lines_.append(line);
        };
    }
    QStringList lines() const {
        QMutexLocker lock(&mutex_);
        return lines_;
    }
    qsizetype count(const QString& text) const { return lines().filter(text).size(); }
    bool contains(const QString& text) const { return count(text) > 0; }

private:
    mutable QMutex mutex_;
    QStringList lines_;
};

inline TelemetryEvent makeEvent(const QString& name, int index = 0) {
    return TelemetryEvent(name, QStringLiteral("distinct-1"), {{QStringLiteral("index"), index}});
}

// The uuids of the events in a /batch body.
inline QStringList batchUuids(const QByteArray& json) {
    QStringList ids;
    for (const QJsonValue& event : QJsonDocument::fromJson(json).object().value("batch").toArray())
        ids.append(event.toObject().value("uuid").toString());
    return ids;
}

// A queue uploading through the real client API to a scripted loopback server, with a
// monotonic clock that moves only when told to and its own temporary folder.
struct QueueHarness {
    QTemporaryDir dir;
    ScriptedHttpServer server;
    std::atomic<std::int64_t> nowNs{1'000'000'000'000};
    LineLog log;
    std::unique_ptr<TelemetryEventQueue> queue;

    explicit QueueHarness(ScriptedResponse answer = ScriptedResponse::reply(200, "{}")) {
        server.setDefault(std::move(answer));
    }
    std::chrono::steady_clock::time_point now() const {
        return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(nowNs.load()));
    }
    void advance(std::chrono::duration<double> by) {
        nowNs += std::chrono::duration_cast<std::chrono::nanoseconds>(by).count();
    }
    TelemetryConfig config() const {
        TelemetryConfig config(QStringLiteral("token-1"), server.url().toString());
        config.flushIntervalSeconds = 3600; // the timer stays out of the way unless asked
        return config;
    }
    TelemetryEventQueue& make(const TelemetryConfig& config,
                              std::shared_ptr<TelemetryReachability> reachability = {},
                              TelemetryFileOps fileOps = {}) {
        queue.reset();
        queue = std::make_unique<TelemetryEventQueue>(
            config, dir.path(), telemetryEventsEndpoint(std::make_shared<TelemetryApi>(config)),
            TelemetryQueueEnvironment{[this] { return now(); }, std::move(reachability),
                                      std::move(fileOps), log.logger()});
        return *queue;
    }
    QString folder() const { return dir.filePath(QStringLiteral("telemetry.queueFolder.uuid")); }
    QStringList files() const {
        return QDir(folder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    void writeFile(const QString& name, const QByteArray& data) const {
        ASSERT_TRUE(test::writeFile(QDir(folder()).filePath(name), data));
    }
    // Adds events and returns their uuids.
    QStringList add(int count) {
        QStringList uuids;
        for (int i = 0; i < count; ++i) {
            const TelemetryEvent event = makeEvent(QStringLiteral("e"), i);
            EXPECT_TRUE(queue->add(event));
            uuids.append(UuidV7::toText(event.uuid));
        }
        return uuids;
    }
    // Flushes, then waits until an upload reached the server (or the queue emptied
    // without one) and the queue has handled the outcome.
    bool flushAndSettle() {
        const int before = server.requestCount();
        queue->flush();
        return waitUntil(
            [&] {
                return (server.requestCount() > before || queue->depth() == 0) &&
                       !queue->isFlushing();
            },
            15s);
    }
    QStringList delivered() const {
        QStringList uuids;
        for (const RecordedRequest& request : server.requests())
            uuids += batchUuids(request.body);
        return uuids;
    }
    double pause() const {
        const auto until = queue->pausedUntil();
        return until ? std::chrono::duration<double>(*until - now()).count() : 0;
    }
};

// A client with every outside effect pointed at test parts: a loopback server as host
// (answering 200 "{}"), a temporary storage folder, a wall clock that moves only when told
// to and a network monitor that says Wi-Fi.
struct SdkHarness {
    QTemporaryDir dir;
    ScriptedHttpServer server;
    std::atomic<qint64> nowMs{1'772'359'200'250}; // 2026-03-01T10:00:00.250Z
    LineLog log;
    std::unique_ptr<TelemetrySDK> sdk;

    SdkHarness() {
        server.setDefault(ScriptedResponse::reply(200, "{}"));
        sdk = make();
    }
    void advance(std::chrono::milliseconds by) { nowMs += by.count(); }
    QString appFolder() const { return dir.filePath(QStringLiteral("app")); }
    TelemetryConfig config() const {
        TelemetryConfig config(QStringLiteral("phc_test"), server.url().toString());
        config.storageFolder = appFolder();
        config.flushIntervalSeconds = 3600; // uploads only when a test asks
        config.flushAt = 1000;
        config.debug = true;
        return config;
    }
    std::unique_ptr<TelemetrySDK> make() {
        TelemetrySDK::Options options;
        options.clock = [this] { return QDateTime::fromMSecsSinceEpoch(nowMs, Qt::UTC); };
        options.reachability =
            std::make_shared<TelemetryManualReachability>(TelemetryReachability::Connection::wifi);
        options.device =
            TelemetryDeviceInfo{"Linux", "12", "Framework", "Laptop 13", "workstation"};
        options.log = log.logger();
        options.followApplicationState = false;
        auto client = std::make_unique<TelemetrySDK>(options);
        client->setApplicationInfo({"Varno", "1.4.0", "140", "app.varno"});
        return client;
    }
    // A second process start on the same folder.
    void restart(const std::optional<TelemetryConfig>& with = std::nullopt) {
        sdk.reset();
        sdk = make();
        sdk->setup(with.value_or(config()));
    }
    // The queued events, oldest first (their file names are time-ordered).
    QList<QJsonObject> queued() const {
        QList<QJsonObject> events;
        const QDir folder(QDir(appFolder()).filePath(QStringLiteral("telemetry.queueFolder.uuid")));
        for (const QString& name : folder.entryList(QDir::Files, QDir::Name))
            events.append(QJsonDocument::fromJson(readFile(folder.filePath(name))).object());
        return events;
    }
    QStringList queuedNames() const {
        QStringList names;
        for (const QJsonObject& event : queued())
            names.append(event.value("event").toString());
        return names;
    }
    // The value stored in a state file, or undefined when there is none.
    QJsonValue state(const QString& name) const {
        const QString path = QDir(appFolder()).filePath(QStringLiteral("telemetry.") + name);
        if (!QFile::exists(path))
            return QJsonValue(QJsonValue::Undefined);
        const QJsonDocument document = QJsonDocument::fromJson(readFile(path));
        EXPECT_TRUE(document.isObject()) << name.toStdString() << " is not a JSON document";
        return document.object().value(QStringLiteral("value"));
    }
};

} // namespace varno::test
