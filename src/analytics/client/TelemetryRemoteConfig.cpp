// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryRemoteConfig.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <QTimeZone>
#include <QUrlQuery>

#include <mutex>

namespace varno {

struct TelemetryRemoteConfig::State {
    std::mutex lock;
    std::optional<QJsonObject> remoteConfig;
    std::optional<QJsonObject> featureFlags;
    // Raised by clearFeatureFlags so that an answer to an older request is not kept.
    quint64 flagsGeneration = 0;
};

namespace {

QString joinedPath(const QUrl& host, const QString& suffix) {
    QString path = host.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path + suffix;
}

} // namespace

TelemetryRemoteConfig::TelemetryRemoteConfig(TelemetryConfig config, TelemetryTransport transport,
                                             TelemetryLogger log)
    : config_(std::move(config)), transport_(std::move(transport)), log_(std::move(log)),
      state_(std::make_shared<State>()) {}

TelemetryRemoteConfig::~TelemetryRemoteConfig() = default;

QUrl TelemetryRemoteConfig::remoteConfigUrl(const QUrl& host, const QString& projectToken) {
    QUrl url = host;
    url.setPath(
        joinedPath(host, QStringLiteral("/array/%1/config")
                             .arg(QString::fromLatin1(QUrl::toPercentEncoding(projectToken)))),
        QUrl::TolerantMode);
    url.setQuery(QString());
    return url;
}

QUrl TelemetryRemoteConfig::flagsUrl(const QUrl& host) {
    QUrl url = host;
    url.setPath(joinedPath(host, QStringLiteral("/flags")));
    url.setQuery(QUrlQuery{{QStringLiteral("v"), QStringLiteral("2")}});
    return url;
}

void TelemetryRemoteConfig::loadRemoteConfig() {
    TelemetryHttpRequest request;
    request.url = remoteConfigUrl(config_.host, config_.projectToken);
    request.method = "GET";
    request.timeout = std::chrono::seconds(60);
    send(std::move(request), /*flags=*/false);
}

void TelemetryRemoteConfig::reloadFeatureFlags(const FlagsIdentity& identity) {
    const QJsonObject body{
        {QStringLiteral("api_key"), config_.projectToken},
        {QStringLiteral("distinct_id"), identity.distinctId},
        {QStringLiteral("$anon_distinct_id"), identity.anonymousId},
        {QStringLiteral("$device_id"), identity.deviceId},
        {QStringLiteral("groups"), QJsonObject()},
        {QStringLiteral("person_properties"), QJsonObject()},
        {QStringLiteral("group_properties"), QJsonObject()},
        {QStringLiteral("evaluation_contexts"), QJsonArray()},
        {QStringLiteral("timezone"), QString::fromUtf8(QTimeZone::systemTimeZoneId())},
    };
    TelemetryHttpRequest request;
    request.url = flagsUrl(config_.host);
    request.method = "POST";
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    request.timeout = std::chrono::seconds(10);
    send(std::move(request), /*flags=*/true);
}

void TelemetryRemoteConfig::clearFeatureFlags() {
    std::lock_guard lock(state_->lock);
    state_->featureFlags.reset();
    ++state_->flagsGeneration;
}

std::optional<QJsonObject> TelemetryRemoteConfig::remoteConfig() const {
    std::lock_guard lock(state_->lock);
    return state_->remoteConfig;
}

std::optional<QJsonObject> TelemetryRemoteConfig::featureFlags() const {
    std::lock_guard lock(state_->lock);
    return state_->featureFlags;
}

void TelemetryRemoteConfig::send(TelemetryHttpRequest request, bool flags) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!transport_ || !app) {
        telemetryLog(log_, QStringLiteral("No event loop to send %1 from").arg(request.url.path()));
        return;
    }
    request.headers = telemetryRequestHeaders(config_, false);

    quint64 generation = 0;
    {
        std::lock_guard lock(state_->lock);
        generation = state_->flagsGeneration;
    }
    const std::weak_ptr<State> weak = state_;
    const QString endpoint = flags ? QStringLiteral("flags") : QStringLiteral("remote config");
    auto completion = [weak, flags, generation, endpoint,
                       log = log_](TelemetryHttpResponse response) {
        const auto state = weak.lock();
        if (!state)
            return;
        const bool ok = !response.transportError && response.statusCode &&
                        *response.statusCode >= 200 && *response.statusCode < 300;
        const QJsonDocument document = QJsonDocument::fromJson(response.body);
        if (!ok || !document.isObject()) {
            telemetryLog(
                log,
                QStringLiteral("Error loading %1: %2")
                    .arg(endpoint, response.transportError.value_or(
                                       response.statusCode
                                           ? QStringLiteral("status %1").arg(*response.statusCode)
                                           : QStringLiteral("no valid answer"))));
            return;
        }
        std::lock_guard lock(state->lock);
        if (!flags)
            state->remoteConfig = document.object();
        else if (generation == state->flagsGeneration)
            state->featureFlags = document.object();
    };
    if (QThread::currentThread() == app->thread()) {
        transport_(std::move(request), std::move(completion));
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [transport = transport_, request = std::move(request),
         completion = std::move(completion)]() mutable {
            transport(std::move(request), std::move(completion));
        },
        Qt::QueuedConnection);
}

} // namespace varno
