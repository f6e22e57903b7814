// SPDX-License-Identifier: MIT
#include "analytics/Analytics.h"

#include "analytics/client/TelemetryConfig.h"
#include "model/UrlText.h"

#include <QUrl>

namespace varno {

namespace {

std::optional<QString> textValue(const QVariantMap& info, const QString& key) {
    const QVariant value = info.value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

} // namespace

QString Analytics::wireName(Event event) {
    switch (event) {
    case Event::appLaunched:
        return QStringLiteral("app_launched");
    case Event::leaderboardOpened:
        return QStringLiteral("leaderboard_opened");
    case Event::usageSyncCompleted:
        return QStringLiteral("usage_sync_completed");
    case Event::referralLinkCopied:
        return QStringLiteral("referral_link_copied");
    }
    return {};
}

Analytics::Analytics(TelemetryClient* client, QVariantMap properties)
    : client_(client), properties_(std::move(properties)) {
    properties_.insert(QStringLiteral("platform"), platform());
}

Analytics Analytics::configured(const QVariantMap& info, TelemetryClient* client) {
    if (!client)
        return Analytics();

    const std::optional<QString> token =
        textValue(info, QStringLiteral("VarnoTelemetryProjectToken"));
    if (!token || token->trimmed().isEmpty())
        return Analytics();

    const std::optional<QString> host = textValue(info, QStringLiteral("VarnoTelemetryHost"));
    if (!host)
        return Analytics();
    const QUrl hostURL(*host, QUrl::StrictMode);
    // The scheme as written: QUrl would accept "HTTPS" by lower-casing it.
    if (!hostURL.isValid() || UrlText::split(*host).scheme != QLatin1String("https") ||
        hostURL.host().isEmpty() || !hostURL.userName().isEmpty() || !hostURL.password().isEmpty())
        return Analytics();

    // The token goes on as stored; the configuration trims it itself.
    TelemetryConfig config(*token, *host);
    config.captureApplicationLifecycleEvents = false;
    config.captureScreenViews = false;
    config.enableSwizzling = false;
    config.preloadFeatureFlags = false;
    config.errorTrackingConfig.autoCapture = false;
    client->setup(config);

    const QString unknown = QStringLiteral("unknown");
    QVariantMap properties{
        {QStringLiteral("app_version"),
         textValue(info, QStringLiteral("CFBundleShortVersionString")).value_or(unknown)},
        {QStringLiteral("app_build"),
         textValue(info, QStringLiteral("CFBundleVersion")).value_or(unknown)},
        {QStringLiteral("environment"), textValue(info, QStringLiteral("VarnoTelemetryEnvironment"))
                                            .value_or(QStringLiteral("production"))},
    };
    return Analytics(client, std::move(properties));
}

void Analytics::syncUser(const std::optional<User>& user) const {
    if (!client_)
        return;
    if (client_->getDistinctId() != client_->getAnonymousId()) {
        // Someone is identified: forget them unless they are the user given.
        const QString identified = client_->getDistinctId();
        if (!user || user->id != identified)
            client_->reset();
    }
    if (!user)
        return;
    client_->identify(user->id, QVariantMap{
                                    {QStringLiteral("name"), user->name},
                                    {QStringLiteral("email"), user->email},
                                    {QStringLiteral("vivu_user_id"), user->id},
                                    {QStringLiteral("auth_provider"), QStringLiteral("github")},
                                });
}

void Analytics::capture(Event event) const {
    if (!client_)
        return;
    client_->capture(wireName(event), properties_);
}

} // namespace varno
