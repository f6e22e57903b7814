// SPDX-License-Identifier: MIT
#pragma once

#include <QMap>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <optional>

namespace varno {

// Settings of the client's error capture. This client installs no crash or exception
// capture; the switch stays so that a caller can say it wants none.
struct TelemetryErrorTrackingConfig {
    bool autoCapture = true;
};

// The analytics client's one configuration object: a plain copyable value whose
// settings are public fields, each with its default. The setup reads it once.
class TelemetryConfig {
public:
    enum class DataMode { wifi = 0, cellular = 1, any = 2 };
    enum class PersonProfiles { never = 0, always = 1, identifiedOnly = 2 };

    // Ingestion host used when the given host is empty or is not a URL.
    static constexpr const char* defaultHost = "https://telemetry.varno.app";

    // Trims both values; an empty or unparsable host becomes defaultHost.
    TelemetryConfig(QString projectToken, QString host);

    QUrl host;
    QString projectToken;
    int flushAt = 20;
    int maxQueueSize = 1000;
    int maxBatchSize = 50;
    double flushIntervalSeconds = 30.0;
    int maxRetries = 3;
    int featureFlagRequestMaxRetries = 1;
    DataMode dataMode = DataMode::any;
    bool sendFeatureFlagEvent = true;
    bool preloadFeatureFlags = true;
    bool captureApplicationLifecycleEvents = true;
    bool captureScreenViews = true;
    bool enableSwizzling = true;
    bool capturePushNotificationSubscriptions = true;
    bool capturePushNotificationOpened = true;
    bool debug = false;
    bool optOut = false;
    bool persistOptOut = true;
    // Lets the application choose the anonymous id; the default keeps the one given.
    std::function<QUuid(QUuid)> getAnonymousId = [](QUuid id) { return id; };
    bool reuseAnonymousId = false;
    PersonProfiles personProfiles = PersonProfiles::identifiedOnly;
    bool setDefaultPersonProperties = true;
    std::optional<QString> appGroupIdentifier;
    TelemetryErrorTrackingConfig errorTrackingConfig;
    // Extra headers added to every request of the client.
    std::optional<QMap<QString, QString>> requestHeaders;
    // Folder for the client's files; empty means the default per-user location.
    QString storageFolder;
};

} // namespace varno
