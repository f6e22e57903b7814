// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryClient.h"
#include "model/Records.h"

#include <QString>
#include <QVariantMap>

#include <optional>

namespace varno {

// The application's thin layer over the analytics client. Without a usable
// configuration it has no client and every operation does nothing, so no client
// is ever started, no file written and no request made.
class Analytics {
public:
    enum class Event { appLaunched, leaderboardOpened, usageSyncCompleted, referralLinkCopied };

    // The name an event travels under.
    static QString wireName(Event event);

    // The platform this build runs on: "linux" or "macos".
    static QString platform();

    // Reads the project token and ingestion host from the build's information
    // dictionary; when both are usable, sets the client up with automatic capture
    // switched off and returns a wrapper around it. Never fails: a missing or bad
    // configuration (or no client) gives the unconfigured wrapper.
    static Analytics configured(const QVariantMap& info, TelemetryClient* client);

    // Stores the properties with "platform" merged in; the merged value wins.
    explicit Analytics(TelemetryClient* client = nullptr, QVariantMap properties = {});

    // The started client, or null when analytics is off. Not owned.
    TelemetryClient* client() const { return client_; }
    const QVariantMap& properties() const { return properties_; }

    // Keeps the client's identity in step with the signed-in user (none after
    // sign-out): resets when another user (or nobody) replaces an identified one,
    // then identifies the given user.
    void syncUser(const std::optional<User>& user) const;

    void capture(Event event) const;

private:
    TelemetryClient* client_;
    QVariantMap properties_;
};

} // namespace varno
