#include "analytics/Analytics.h"

#include <gtest/gtest.h>

#include <optional>

using varno::Analytics;
using varno::TelemetryClient;
using varno::TelemetryConfig;
using varno::User;

namespace {

// Records every call and answers the identity questions like the real client:
// anonymous until identify, anonymous again (with a fresh id) after reset.
class RecordingClient : public TelemetryClient {
public:
    void setup(const TelemetryConfig& config) override {
        calls.append(QStringLiteral("setup"));
        this->config.emplace(config);
    }
    QString getDistinctId() override { return distinctId.isEmpty() ? anonymousId : distinctId; }
    QString getAnonymousId() override { return anonymousId; }
    void identify(const QString& id, const QVariantMap& properties) override {
        calls.append(QStringLiteral("identify ") + id);
        distinctId = id;
        lastUserProperties = properties;
    }
    void reset() override {
        calls.append(QStringLiteral("reset"));
        distinctId.clear();
        anonymousId = QStringLiteral("anon-%1").arg(++resets);
    }
    void capture(const QString& event, const QVariantMap& properties) override {
        calls.append(QStringLiteral("capture ") + event);
        lastProperties = properties;
    }
    void flush() override { calls.append(QStringLiteral("flush")); }

    QStringList calls;
    std::optional<TelemetryConfig> config;
    QString anonymousId = QStringLiteral("anon-0");
    QString distinctId;
    int resets = 0;
    QVariantMap lastProperties;
    QVariantMap lastUserProperties;
};

QVariantMap goodInfo() {
    return {
        {QStringLiteral("VarnoTelemetryProjectToken"), QStringLiteral("  tok_123\n")},
        {QStringLiteral("VarnoTelemetryHost"), QStringLiteral("https://ingest.example.com")},
        {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.2.3")},
        {QStringLiteral("CFBundleVersion"), QStringLiteral("45")},
        {QStringLiteral("VarnoTelemetryEnvironment"), QStringLiteral("staging")},
    };
}

const User alice{QStringLiteral("u-alice"), QStringLiteral("Alice"), QStringLiteral("a@x.io")};
const User bob{QStringLiteral("u-bob"), QStringLiteral("Bob"), QStringLiteral("b@x.io")};

} // namespace

TEST(Analytics, ConfigurationThatLeavesAnalyticsOff) {
    struct Case {
        const char* name;
        QVariant token;
        QVariant host;
    };
    const Case cases[] = {
        {"token missing", QVariant(), QStringLiteral("https://ingest.example.com")},
        {"token blank", QStringLiteral(" \n\t "), QStringLiteral("https://ingest.example.com")},
        {"token not text", 42, QStringLiteral("https://ingest.example.com")},
        {"host missing", QStringLiteral("tok"), QVariant()},
        {"host not text", QStringLiteral("tok"), QVariantMap{}},
        {"host plain http", QStringLiteral("tok"), QStringLiteral("http://ingest.example.com")},
        {"host with user", QStringLiteral("tok"), QStringLiteral("https://me@ingest.example.com")},
        {"host with password", QStringLiteral("tok"),
         QStringLiteral("https://:pw@ingest.example.com")},
        {"https without host", QStringLiteral("tok"), QStringLiteral("https:ingest")},
        {"host not a URL", QStringLiteral("tok"), QStringLiteral("https://in gest")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QVariantMap info = goodInfo();
        info.remove(QStringLiteral("VarnoTelemetryProjectToken"));
        info.remove(QStringLiteral("VarnoTelemetryHost"));
        if (c.token.isValid())
            info.insert(QStringLiteral("VarnoTelemetryProjectToken"), c.token);
        if (c.host.isValid())
            info.insert(QStringLiteral("VarnoTelemetryHost"), c.host);
        RecordingClient client;
        Analytics analytics = Analytics::configured(info, &client);
        EXPECT_EQ(analytics.client(), nullptr);
        EXPECT_EQ(analytics.properties(),
                  (QVariantMap{{QStringLiteral("platform"), QStringLiteral("linux")}}));
        analytics.syncUser(alice);
        analytics.capture(Analytics::Event::appLaunched);
        EXPECT_TRUE(client.calls.isEmpty()) << client.calls.join(", ").toStdString();
    }
}

TEST(Analytics, ConfiguredClientIsSetUpWithAutomaticCaptureOff) {
    RecordingClient client;
    Analytics analytics = Analytics::configured(goodInfo(), &client);
    ASSERT_EQ(analytics.client(), &client);
    ASSERT_TRUE(client.config.has_value());
    const TelemetryConfig& config = *client.config;
    EXPECT_EQ(config.projectToken, QStringLiteral("tok_123")); // trimmed by the configuration
    EXPECT_EQ(config.host, QUrl(QStringLiteral("https://ingest.example.com")));
    EXPECT_FALSE(config.captureApplicationLifecycleEvents);
    EXPECT_FALSE(config.captureScreenViews);
    EXPECT_FALSE(config.enableSwizzling);
    EXPECT_FALSE(config.preloadFeatureFlags);
    EXPECT_FALSE(config.errorTrackingConfig.autoCapture);
    // Everything else keeps its default.
    EXPECT_EQ(config.flushAt, 20);
    EXPECT_FALSE(config.debug);
    EXPECT_FALSE(config.optOut);
    EXPECT_TRUE(config.sendFeatureFlagEvent);

    analytics.capture(Analytics::Event::usageSyncCompleted);
    EXPECT_EQ(client.calls.last(), QStringLiteral("capture usage_sync_completed"));
    EXPECT_EQ(client.lastProperties, (QVariantMap{
                                         {QStringLiteral("app_version"), QStringLiteral("1.2.3")},
                                         {QStringLiteral("app_build"), QStringLiteral("45")},
                                         {QStringLiteral("environment"), QStringLiteral("staging")},
                                         {QStringLiteral("platform"), QStringLiteral("linux")},
                                     }));
}

TEST(Analytics, MissingVersionKeysAndPlatformOverride) {
    QVariantMap info = goodInfo();
    info.remove(QStringLiteral("CFBundleVersion"));
    info.remove(QStringLiteral("VarnoTelemetryEnvironment"));
    info.insert(QStringLiteral("CFBundleShortVersionString"), 7); // not text
    info.insert(QStringLiteral("platform"), QStringLiteral("amiga"));
    RecordingClient client;
    Analytics analytics = Analytics::configured(info, &client);
    EXPECT_EQ(analytics.properties().value(QStringLiteral("app_version")),
              QStringLiteral("unknown"));
    EXPECT_EQ(analytics.properties().value(QStringLiteral("app_build")), QStringLiteral("unknown"));
    EXPECT_EQ(analytics.properties().value(QStringLiteral("environment")),
              QStringLiteral("production"));
    EXPECT_EQ(analytics.properties().size(), 4);

    Analytics direct(&client, {{QStringLiteral("platform"), QStringLiteral("amiga")}});
    EXPECT_EQ(direct.properties().value(QStringLiteral("platform")), QStringLiteral("linux"));
}

TEST(Analytics, EventWireNames) {
    RecordingClient client;
    Analytics analytics(&client);
    analytics.capture(Analytics::Event::appLaunched);
    analytics.capture(Analytics::Event::leaderboardOpened);
    analytics.capture(Analytics::Event::usageSyncCompleted);
    analytics.capture(Analytics::Event::referralLinkCopied);
    EXPECT_EQ(client.calls,
              (QStringList{"capture app_launched", "capture leaderboard_opened",
                           "capture usage_sync_completed", "capture referral_link_copied"}));
}

TEST(Analytics, IdentityFollowsTheSignedInUser) {
    RecordingClient client;
    Analytics analytics(&client);

    analytics.syncUser(alice); // anonymous client: identify only
    EXPECT_EQ(client.calls, QStringList{"identify u-alice"});
    EXPECT_EQ(client.lastUserProperties,
              (QVariantMap{{QStringLiteral("name"), QStringLiteral("Alice")},
                           {QStringLiteral("email"), QStringLiteral("a@x.io")},
                           {QStringLiteral("vivu_user_id"), QStringLiteral("u-alice")},
                           {QStringLiteral("auth_provider"), QStringLiteral("github")}}));

    client.calls.clear();
    analytics.syncUser(alice); // same user again: no reset, identify again
    EXPECT_EQ(client.calls, QStringList{"identify u-alice"});

    client.calls.clear();
    analytics.syncUser(bob); // switching users: reset first
    EXPECT_EQ(client.calls, (QStringList{"reset", "identify u-bob"}));

    client.calls.clear();
    analytics.syncUser(std::nullopt); // sign-out: reset only
    EXPECT_EQ(client.calls, QStringList{"reset"});

    client.calls.clear();
    analytics.syncUser(std::nullopt); // already anonymous: nothing
    EXPECT_TRUE(client.calls.isEmpty());
}
