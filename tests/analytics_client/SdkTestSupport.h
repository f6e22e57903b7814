#pragma once

#include "analytics/client/TelemetryConfig.h"
#include "analytics/client/TelemetryReachability.h"
#include "analytics/client/TelemetrySDK.h"
#include "support/ScriptedHttpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace varno::test {

// A wall clock that moves only when told to; readable from any thread.
class WallClock {
public:
    QDateTime now() const {
        QMutexLocker lock(&mutex_);
        return now_;
    }
    void advance(std::chrono::seconds by) {
        QMutexLocker lock(&mutex_);
        now_ = now_.addSecs(by.count());
    }
    void advanceMs(qint64 ms) {
        QMutexLocker lock(&mutex_);
        now_ = now_.addMSecs(ms);
    }

private:
    mutable QMutex mutex_;
    QDateTime now_ =
        QDateTime::fromString(QStringLiteral("2026-03-01T10:00:00.250Z"), Qt::ISODateWithMs);
};

// Lines the client logs while debug is on, from any thread.
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
    bool contains(const QString& text) const { return !lines().filter(text).isEmpty(); }

private:
    mutable QMutex mutex_;
    QStringList lines_;
};

inline TelemetryDeviceInfo testDevice() {
    return {QStringLiteral("Linux"), QStringLiteral("12"), QStringLiteral("Framework"),
            QStringLiteral("Laptop 13"), QStringLiteral("workstation")};
}

inline TelemetryApplicationInfo testApplication() {
    return {QStringLiteral("Varno"), QStringLiteral("1.4.0"), QStringLiteral("140"),
            QStringLiteral("app.varno")};
}

// A client with every outside effect pointed at test parts: a loopback server as host
// (answering every request with 200 "{}"), a temporary storage folder, a manual wall
// clock and a network monitor that says Wi-Fi.
struct SdkHarness {
    QTemporaryDir dir;
    ScriptedHttpServer server;
    WallClock clock;
    LineLog log;
    std::shared_ptr<TelemetryManualReachability> reachability =
        std::make_shared<TelemetryManualReachability>(TelemetryReachability::Connection::wifi);
    std::unique_ptr<TelemetrySDK> sdk;

    SdkHarness() {
        server.setDefault(ScriptedResponse::reply(200, "{}"));
        sdk = make();
    }

    QString appFolder() const { return dir.filePath(QStringLiteral("app")); }

    TelemetryConfig config() const {
        TelemetryConfig config(QStringLiteral("phc_test"),
                               server.url(QStringLiteral("/")).toString());
        config.storageFolder = appFolder();
        config.flushIntervalSeconds = 3600; // uploads only when a test asks
        config.flushAt = 1000;
        config.debug = true;
        return config;
    }

    std::unique_ptr<TelemetrySDK> make(bool followApplicationState = false) {
        TelemetrySDK::Options options;
        options.clock = [this] { return clock.now(); };
        options.reachability = reachability;
        options.device = testDevice();
        options.log = log.logger();
        options.followApplicationState = followApplicationState;
        auto client = std::make_unique<TelemetrySDK>(options);
        client->setApplicationInfo(testApplication());
        return client;
    }

    // A second process start on the same folder.
    void restart() {
        sdk.reset();
        sdk = make();
        sdk->setup(config());
    }

    QString queueFolder() const {
        return QDir(appFolder()).filePath(QStringLiteral("telemetry.queueFolder.uuid"));
    }

    // The queued events, oldest first (their file names are time-ordered).
    QList<QJsonObject> queued() const {
        QList<QJsonObject> events;
        const QDir folder(queueFolder());
        for (const QString& name : folder.entryList(QDir::Files, QDir::Name)) {
            QFile file(folder.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                events.append(QJsonDocument::fromJson(file.readAll()).object());
        }
        return events;
    }

    // The value stored in a state file, or undefined when there is none.
    QJsonValue state(const QString& name) const {
        QFile file(QDir(appFolder()).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return QJsonValue(QJsonValue::Undefined);
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
        EXPECT_TRUE(document.isObject()) << name.toStdString() << " is not a JSON document";
        return document.object().value(QStringLiteral("value"));
    }

    QList<RecordedRequest> requestsTo(const QByteArray& path) const {
        QList<RecordedRequest> found;
        for (const RecordedRequest& request : server.requests())
            if (request.pathWithoutQuery() == path)
                found.append(request);
        return found;
    }
};

} // namespace varno::test
