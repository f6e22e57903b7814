#include "analytics/Analytics.h"
#include "analytics/client/TelemetrySDK.h"
#include "support/AwaitTask.h"
#include "support/ScriptedHttpServer.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace varno;
using namespace varno::test;
using namespace std::chrono_literals;

namespace {

// Points the user's home and data folders at a temporary folder for one test.
class TemporaryHome {
public:
    TemporaryHome()
        : oldHome_(qgetenv("HOME")), oldData_(qgetenv("XDG_DATA_HOME")),
          hadData_(qEnvironmentVariableIsSet("XDG_DATA_HOME")) {
        qputenv("HOME", dir_.path().toUtf8());
        qputenv("XDG_DATA_HOME", dataPath().toUtf8());
    }
    ~TemporaryHome() {
        qputenv("HOME", oldHome_);
        if (hadData_)
            qputenv("XDG_DATA_HOME", oldData_);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    QString path() const { return dir_.path(); }
    QString dataPath() const { return dir_.filePath("data"); }
    // Every file and folder below the home, relative to it.
    QStringList entries() const {
        QStringList found;
        QDirIterator it(dir_.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found.append(QDir(dir_.path()).relativeFilePath(it.next()));
        return found;
    }

private:
    QTemporaryDir dir_;
    QByteArray oldHome_;
    QByteArray oldData_;
    bool hadData_;
};

const User ada{QStringLiteral("u-ada"), QStringLiteral("Ada"), QStringLiteral("ada@example.com")};

const QList<Analytics::Event> allEvents = {
    Analytics::Event::appLaunched, Analytics::Event::leaderboardOpened,
    Analytics::Event::usageSyncCompleted, Analytics::Event::referralLinkCopied};

} // namespace

TEST(AnalyticsDelivery, ConfiguredWrapperSendsTheFourEventsGzippedToAnHttpsHost) {
    TemporaryHome home;
    ScriptedHttpServer::trustCertificateProcessWide();
    ScriptedHttpServer server(ScriptedHttpServer::Scheme::https);
    server.setDefault(ScriptedResponse::reply(200, "{}"));

    const QVariantMap info{
        {"VarnoTelemetryProjectToken", "phc_live"},
        {"VarnoTelemetryHost", server.url("/").toString()},
        {"VarnoTelemetryEnvironment", "staging"},
        {"CFBundleShortVersionString", "1.2.3"},
        {"CFBundleVersion", "45"},
        {"CFBundleIdentifier", "app.varno"},
        {"CFBundleDisplayName", "Varno"},
    };
    TelemetrySDK::Options options;
    options.followApplicationState = false;
    TelemetrySDK sdk(options);
    sdk.setApplicationInfo(TelemetryApplicationInfo::fromInfoDictionary(info));

    const Analytics analytics = Analytics::configured(info, &sdk);
    ASSERT_EQ(analytics.client(), &sdk);
    EXPECT_EQ(sdk.storageFolder(), QDir(home.dataPath()).filePath("app.varno/phc_live"));
    analytics.syncUser(ada);
    for (Analytics::Event event : allEvents)
        analytics.capture(event);
    analytics.client()->flush();

    // Collect what reached /batch (the body arrives inflated: the server refuses gzip
    // that does not inflate).
    QList<QJsonObject> received;
    auto batches = [&] {
        received.clear();
        for (const RecordedRequest& request : server.requests()) {
            if (request.pathWithoutQuery() != "/batch")
                continue;
            EXPECT_EQ(request.method, "POST");
            EXPECT_EQ(request.header("Content-Encoding"), "gzip");
            const QJsonObject body = QJsonDocument::fromJson(request.body).object();
            EXPECT_EQ(body.value("api_key"), "phc_live");
            for (const QJsonValue& event : body.value("batch").toArray())
                received.append(event.toObject());
        }
        return received.size() >= 5;
    };
    ASSERT_TRUE(waitUntil(batches)) << received.size();

    ASSERT_EQ(received.size(), 5);
    EXPECT_EQ(received[0].value("event"), "$identify");
    EXPECT_EQ(received[0].value("properties").toObject().value("$set").toObject().value("email"),
              "ada@example.com");
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject event = received[i + 1];
        const QJsonObject properties = event.value("properties").toObject();
        EXPECT_EQ(event.value("event"), Analytics::wireName(allEvents[i]));
        EXPECT_EQ(event.value("distinct_id"), "u-ada");
        EXPECT_EQ(properties.value("app_version"), "1.2.3");
        EXPECT_EQ(properties.value("app_build"), "45");
        EXPECT_EQ(properties.value("environment"), "staging");
        EXPECT_EQ(properties.value("platform"), Analytics::platform());
        EXPECT_EQ(properties.value("$app_namespace"), "app.varno");
        EXPECT_EQ(properties.value("$lib"), "varno-telemetry");
        EXPECT_TRUE(properties.value("$session_id").isString());
    }
    // Sent events leave the queue.
    EXPECT_TRUE(waitUntil([&] { return QDir(sdk.queueFolder()).isEmpty(); }));
}

TEST(AnalyticsDelivery, UnconfiguredWrapperStartsNoClientWritesNothingAndSendsNothing) {
    ScriptedHttpServer server;
    server.setDefault(ScriptedResponse::reply(200, "{}"));
    const QString plainHost = server.url("/").toString(); // http: not acceptable
    const QList<QPair<const char*, QVariantMap>> builds = {
        {"empty bundle", {}},
        {"host but no token", {{"VarnoTelemetryHost", plainHost}}},
        {"blank token", {{"VarnoTelemetryProjectToken", " \n"}, {"VarnoTelemetryHost", plainHost}}},
        {"plain http host",
         {{"VarnoTelemetryProjectToken", "phc_live"}, {"VarnoTelemetryHost", plainHost}}},
    };
    for (const auto& [name, info] : builds) {
        SCOPED_TRACE(name);
        TemporaryHome home;
        // The application's own instance, exactly as the composition root passes it.
        const Analytics analytics = Analytics::configured(info, &TelemetrySDK::shared());
        EXPECT_EQ(analytics.client(), nullptr);
        analytics.syncUser(ada);
        for (Analytics::Event event : allEvents)
            analytics.capture(event);
        analytics.syncUser(std::nullopt);
        if (analytics.client())
            analytics.client()->flush();

        waitUntil([] { return false; }, 100ms);
        EXPECT_FALSE(TelemetrySDK::shared().isEnabled());
        EXPECT_EQ(home.entries(), QStringList());
        EXPECT_EQ(server.requestCount(), 0);
    }
}
