// SPDX-License-Identifier: MIT
#include "analytics/Analytics.h"
#include "analytics/client/TelemetryApi.h"
#include "analytics/client/TelemetrySDK.h"
#include "support/AwaitTask.h"
#include "support/RecordingTelemetry.h"
#include "support/ScopedEnvironment.h"
#include "support/ScriptedHttpServer.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

using namespace varno;
using namespace varno::test;
using namespace std::chrono_literals;

namespace {

// Points the user's home and data folders at a temporary folder while it lives.
struct TemporaryHome {
    QTemporaryDir dir;
    const ScopedEnvironment home{"HOME", dir.path().toUtf8()};
    const ScopedEnvironment data{"XDG_DATA_HOME", dir.filePath("data").toUtf8()};
};

const User ada{"u-ada", "Ada", "ada@example.com"};

void syncAndCaptureEverything(const Analytics& analytics) {
    analytics.syncUser(ada);
    for (auto event : {Analytics::Event::appLaunched, Analytics::Event::leaderboardOpened,
                       Analytics::Event::usageSyncCompleted, Analytics::Event::referralLinkCopied})
        analytics.capture(event);
}

} // namespace

TEST(Analytics, SetsTheClientUpWithAutomaticCaptureOff) {
    RecordingTelemetry client;
    Analytics::configured({{"VarnoTelemetryProjectToken", "tok"},
                           {"VarnoTelemetryHost", "https://ingest.example.com"}},
                          &client);
    ASSERT_TRUE(client.config);
    EXPECT_FALSE(client.config->captureApplicationLifecycleEvents);
    EXPECT_FALSE(client.config->captureScreenViews);
    EXPECT_FALSE(client.config->enableSwizzling);
    EXPECT_FALSE(client.config->preloadFeatureFlags);
    EXPECT_FALSE(client.config->errorTrackingConfig.autoCapture);
}

TEST(Analytics, ConfiguredWrapperSendsTheFourEventsGzippedToAnHttpsHostAndFollowsTheUser) {
    TemporaryHome home;
    ScriptedHttpServer server(ScriptedHttpServer::Scheme::https);
    server.setDefault(ScriptedResponse::reply(200, "{}"));
    // No build number or environment: those go out as "unknown" and "production".
    const QVariantMap info{{"VarnoTelemetryProjectToken", " phc_live\n"},
                           {"VarnoTelemetryHost", server.url().toString()},
                           {"CFBundleShortVersionString", "1.2.3"},
                           {"CFBundleIdentifier", "app.varno"}};
    TelemetrySDK::Options options;
    options.transport = telemetryNetworkTransport({ScriptedHttpServer::certificatePath(), {}});
    TelemetrySDK sdk(options);
    sdk.setApplicationInfo(TelemetryApplicationInfo::fromInfoDictionary(info));
    const Analytics analytics = Analytics::configured(info, &sdk);
    ASSERT_EQ(analytics.client(), &sdk);
    EXPECT_EQ(sdk.storageFolder(), home.dir.filePath("data/app.varno/phc_live"));
    const QString anonymous = sdk.getAnonymousId();
    syncAndCaptureEverything(analytics);
    EXPECT_EQ(sdk.getAnonymousId(), anonymous) << "identifying an anonymous client resets nothing";
    sdk.flush();
    ASSERT_TRUE(waitUntil([&] { return QDir(sdk.queueFolder()).isEmpty(); })) << "all sent";

    QList<QJsonObject> received;
    for (const RecordedRequest& request : server.requests()) {
        if (request.pathWithoutQuery() != "/batch")
            continue;
        EXPECT_EQ(request.header("Content-Encoding"), "gzip"); // and the server inflated it
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        EXPECT_EQ(body.value("api_key"), "phc_live");
        for (const QJsonValue& event : body.value("batch").toArray())
            received.append(event.toObject());
    }
    const QStringList names = {"$identify", "app_launched", "leaderboard_opened",
                               "usage_sync_completed", "referral_link_copied"};
    ASSERT_EQ(received.size(), names.size());
    EXPECT_EQ(received[0]["properties"].toObject()["$set"],
              QJsonObject({{"name", "Ada"},
                           {"email", "ada@example.com"},
                           {"vivu_user_id", "u-ada"},
                           {"auth_provider", "github"}}));
    for (int i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(received[i]["event"], names[i]);
        EXPECT_EQ(received[i]["distinct_id"], "u-ada");
        if (i == 0)
            continue;
        const QJsonObject properties = received[i]["properties"].toObject();
        EXPECT_EQ(properties["app_version"], "1.2.3");
        EXPECT_EQ(properties["app_build"], "unknown");
        EXPECT_EQ(properties["environment"], "production");
        EXPECT_EQ(properties["platform"], "linux");
    }

    // The same user again keeps the identity; another user, or nobody, resets it first.
    const std::vector<std::tuple<std::optional<User>, bool>> steps = {
        {ada, false},
        {User{"u-bob", "Bob", "b@x.io"}, true},
        {std::nullopt, true},
        {std::nullopt, false}};
    for (const auto& [user, resets] : steps) {
        const QString before = sdk.getAnonymousId();
        analytics.syncUser(user);
        EXPECT_EQ(sdk.getAnonymousId() != before, resets)
            << (user ? user->id : "nobody").toStdString();
        EXPECT_EQ(sdk.getDistinctId(), user ? user->id : sdk.getAnonymousId());
    }
}

TEST(Analytics, AnUnusableConfigurationStartsNoClientWritesNothingAndSendsNothing) {
    TemporaryHome home;
    ScriptedHttpServer server; // every host below points here
    server.setDefault(ScriptedResponse::reply(200, "{}"));
    const QString https = "https://" + server.url().authority();
    const std::vector<std::tuple<const char*, QVariant, QVariant>> cases = {
        // name, token, host
        {"nothing", {}, {}},
        {"token missing", {}, https},
        {"token blank", " \n\t ", https},
        {"token not text", 42, https},
        {"host missing", "phc_live", {}},
        {"host not text", "phc_live", QVariantMap{}},
        {"host plain http", "phc_live", server.url().toString()},
        {"host scheme in capitals", "phc_live", "HTTPS://" + server.url().authority()},
        {"host scheme capitalised", "phc_live", "Https://" + server.url().authority()},
        {"host with user", "phc_live", "https://me@" + server.url().authority()},
        {"host with password", "phc_live", "https://:pw@" + server.url().authority()},
        {"https without host", "phc_live", "https:ingest"},
        {"host not a URL", "phc_live", "https://in gest"},
    };
    for (const auto& [name, token, host] : cases) {
        SCOPED_TRACE(name);
        QVariantMap info{{"CFBundleIdentifier", "app.varno"}};
        if (token.isValid())
            info.insert("VarnoTelemetryProjectToken", token);
        if (host.isValid())
            info.insert("VarnoTelemetryHost", host);
        // The application's own instance, as the composition root passes it.
        const Analytics analytics = Analytics::configured(info, &TelemetrySDK::shared());
        EXPECT_EQ(analytics.client(), nullptr);
        EXPECT_EQ(analytics.properties(), (QVariantMap{{"platform", "linux"}}));
        syncAndCaptureEverything(analytics);
        analytics.syncUser(std::nullopt);
    }
    waitUntil([] { return false; }, 100ms); // anything started would have acted by now
    EXPECT_FALSE(TelemetrySDK::shared().isEnabled());
    EXPECT_TRUE(
        QDir(home.dir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_EQ(server.requestCount(), 0);
}
