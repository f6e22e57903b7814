// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryApi.h"
#include "analytics/client/TelemetryConfig.h"
#include "analytics/client/TelemetryLog.h"

#include <QJsonObject>
#include <QString>

#include <memory>
#include <optional>

namespace varno {

// The remote-configuration and feature-flag requests of the client: one GET of the
// project's remote configuration at setup, and a flags POST whenever the identity
// changes. This application reads no flag and no remote setting, so answers are only
// kept for inspection and a failure is logged and forgotten (no retries): nothing
// else in the client waits for or depends on these requests.
//
// Requests are sent from the application's main thread, where the transport has its
// event loop; the methods may be called from any thread.
class TelemetryRemoteConfig {
public:
    struct FlagsIdentity {
        QString distinctId;
        QString anonymousId;
        QString deviceId;
    };

    TelemetryRemoteConfig(TelemetryConfig config, TelemetryTransport transport,
                          TelemetryLogger log);
    ~TelemetryRemoteConfig();

    // GET <host>/array/<token>/config, 60-second timeout.
    void loadRemoteConfig();
    // POST <host>/flags?v=2, 10-second timeout.
    void reloadFeatureFlags(const FlagsIdentity& identity);
    void clearFeatureFlags();

    std::optional<QJsonObject> remoteConfig() const;
    std::optional<QJsonObject> featureFlags() const;

    static QUrl remoteConfigUrl(const QUrl& host, const QString& projectToken);
    static QUrl flagsUrl(const QUrl& host);

private:
    struct State;
    void send(TelemetryHttpRequest request, bool flags);

    TelemetryConfig config_;
    TelemetryTransport transport_;
    TelemetryLogger log_;
    std::shared_ptr<State> state_;
};

} // namespace varno
