// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryApi.h"
#include "analytics/client/TelemetryClient.h"
#include "analytics/client/TelemetryConfig.h"
#include "analytics/client/TelemetryContext.h"
#include "analytics/client/TelemetryLog.h"
#include "analytics/client/TelemetryQueue.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace varno {

class TelemetryRemoteConfig;
class TelemetrySessionManager;
class TelemetryStorage;

// The analytics client. The application uses the process-wide shared() instance; tests
// build their own with injected clock, transport and network monitor, and point the
// storage at a temporary folder through TelemetryConfig::storageFolder.
//
// Nothing happens before setup(): no file, no request, no thread; every operation then
// does nothing and the getters return empty strings. setup() runs once. All operations
// may be called from any thread.
class TelemetrySDK : public TelemetryClient {
public:
    struct Options {
        // Wall clock for event timestamps and sessions; default: the system clock.
        std::function<QDateTime()> clock;
        // Every HTTP request of the client; default: real HTTP.
        TelemetryTransport transport;
        // Default: the system's network monitor when setup runs on the main thread.
        std::shared_ptr<TelemetryReachability> reachability;
        // The upload queue's back-off clock; default: steady_clock.
        TelemetryMonotonicClock monotonicClock;
        // Default: this machine.
        std::optional<TelemetryDeviceInfo> device;
        // Where debug lines go while TelemetryConfig::debug is on; default: standard output.
        TelemetryLogger log;
        // Flush when the application stops being active, touch the session when it
        // becomes active (QGuiApplication::applicationStateChanged).
        bool followApplicationState = true;
    };

    static TelemetrySDK& shared();

    TelemetrySDK();
    explicit TelemetrySDK(Options options);
    ~TelemetrySDK() override;
    TelemetrySDK(const TelemetrySDK&) = delete;
    TelemetrySDK& operator=(const TelemetrySDK&) = delete;

    // Name, version, build and identifier of the application, for the event properties
    // and the storage folder. Read by setup(); what is left empty comes from
    // QCoreApplication (the identifier then defaults to "telemetry.unknown").
    void setApplicationInfo(const TelemetryApplicationInfo& info);

    void setup(const TelemetryConfig& config) override;
    QString getDistinctId() override;
    QString getAnonymousId() override;
    // An empty map sends no "$set".
    void identify(const QString& distinctId, const QVariantMap& userProperties) override;
    void identify(const QString& distinctId, const std::optional<QVariantMap>& userProperties,
                  const std::optional<QVariantMap>& userPropertiesSetOnce);
    void reset() override;
    void capture(const QString& event, const QVariantMap& properties) override;
    void flush() override;

    // Super properties sent with every event.
    void registerProperties(const QVariantMap& properties);
    void unregisterProperties(const QString& key);

    // Opting out stops capture and identify; the choice is stored when persistOptOut is on.
    void optOut();
    void optIn();
    bool isOptOut() const;

    bool isEnabled() const { return enabled_.load(std::memory_order_acquire); }
    bool isIdentified();
    // The current session id without starting or rotating one.
    std::optional<QString> currentSessionId();
    // The application folder and the event queue's folder; empty before setup.
    QString storageFolder() const;
    QString queueFolder() const;

    // The application lifecycle; driven by QGuiApplication when there is one.
    void applicationDidBecomeActive();
    void applicationDidEnterBackground();

private:
    class LifecycleObserver;

    struct CaptureRequest {
        QString event;
        QString distinctId;
        QJsonObject properties; // the caller's, sanitised
        std::optional<QJsonObject> userProperties;
        std::optional<QJsonObject> userPropertiesSetOnce;
        bool personEvent = false; // "$set" and "$identify": recorded by fingerprint
        bool deduplicate = false; // drop when the fingerprint repeats
    };

    TelemetryLogger logger() const;
    void log(const QString& message) const;
    bool checkEnabled(); // logs the "not set up" line when it is not
    QDateTime now() const;

    QString anonymousIdLocked(); // identityLock_ held
    QString distinctIdLocked();  // identityLock_ held
    bool hasPersonProcessing();
    void captureEvent(const CaptureRequest& request);
    QJsonObject buildProperties(const CaptureRequest& request, const QDateTime& timestamp);
    void reloadFeatureFlags();

    const Options options_;

    // Held for the whole of setup; enabled_ is published at its end.
    std::recursive_mutex setupLock_;
    std::atomic<bool> enabled_{false};
    std::optional<TelemetryApplicationInfo> applicationInfo_;

    // Written by setup before enabled_ is set, then only read.
    std::optional<TelemetryConfig> config_;
    TelemetryLogger log_;
    std::unique_ptr<TelemetryStorage> storage_;
    std::shared_ptr<TelemetryApi> api_;
    std::unique_ptr<TelemetryRemoteConfig> remoteConfig_;
    std::shared_ptr<TelemetryReachability> reachability_;
    std::unique_ptr<TelemetryContext> context_;
    std::unique_ptr<TelemetryEventQueue> queue_;
    std::unique_ptr<TelemetrySessionManager> sessionManager_;
    std::shared_ptr<LifecycleObserver> lifecycle_;

    std::atomic<bool> optOut_{false};

    // Guards the cached identity.
    std::mutex identityLock_;
    std::optional<QString> cachedAnonymousId_;
    std::optional<QString> cachedDistinctId_;
    // Keeps identify and reset from interleaving.
    std::mutex identityChangeLock_;
    // Makes check-and-queue of person-property events one step.
    std::mutex fingerprintLock_;
};

} // namespace varno
