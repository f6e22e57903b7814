#include "SdkTestSupport.h"

#include "analytics/client/TelemetryStorage.h"
#include "support/AwaitTask.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QSet>
#include <QUrlQuery>

#include <thread>

using namespace varno;
using namespace varno::test;
using namespace std::chrono_literals;

namespace {

const QString notSetUp = QStringLiteral("[Telemetry] Telemetry method was called without `setup` "
                                        "being complete. Call will be ignored.");

QStringList eventNames(const QList<QJsonObject>& events) {
    QStringList names;
    for (const QJsonObject& event : events)
        names.append(event.value("event").toString());
    return names;
}

// Lets queued main-thread work (the remote-configuration requests) run.
void settle() {
    waitUntil([] { return false; }, 150ms);
}

} // namespace

TEST(TelemetrySdk, DoesNothingBeforeSetupOrAfterASetupWithoutToken) {
    SdkHarness h;
    EXPECT_EQ(h.sdk->getDistinctId(), QString());
    EXPECT_EQ(h.sdk->getAnonymousId(), QString());
    h.sdk->capture("app_launched", {{"a", 1}});
    h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
    h.sdk->reset();
    h.sdk->flush();
    EXPECT_FALSE(h.sdk->isEnabled());

    // A blank token leaves the client off for good, and says so while debug is on.
    TelemetryConfig blank = h.config();
    blank.projectToken = QStringLiteral("");
    h.sdk->setup(blank);
    h.sdk->capture("app_launched", {});
    EXPECT_EQ(h.sdk->getDistinctId(), QString());
    settle();

    EXPECT_FALSE(h.sdk->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(h.appFolder()));
    EXPECT_EQ(h.server.requestCount(), 0);
    EXPECT_TRUE(h.log.contains("[Telemetry] Telemetry SDK will be disabled because projectToken or "
                               "apiKey is empty."));
    EXPECT_TRUE(h.log.contains(notSetUp));
}

TEST(TelemetrySdk, SetsUpOnceFetchesRemoteConfigOnceAndLogsOnlyWithDebug) {
    SdkHarness h;
    TelemetryConfig quiet = h.config();
    quiet.debug = false;
    h.sdk->setup(quiet);
    ASSERT_TRUE(h.sdk->isEnabled());
    EXPECT_EQ(h.sdk->storageFolder(), h.appFolder());

    // The second setup changes nothing: same folder, no second configuration request.
    TelemetryConfig other = h.config();
    other.storageFolder = h.dir.filePath("elsewhere");
    h.sdk->setup(other);
    EXPECT_EQ(h.sdk->storageFolder(), h.appFolder());
    EXPECT_FALSE(QFileInfo::exists(h.dir.filePath("elsewhere")));

    ASSERT_TRUE(h.server.waitForRequests(1));
    settle();
    const auto config = h.requestsTo("/array/phc_test/config");
    ASSERT_EQ(config.size(), 1);
    EXPECT_EQ(config[0].method, "GET");
    EXPECT_EQ(h.server.requestCount(), 1);
    EXPECT_TRUE(h.log.lines().isEmpty()) << h.log.lines().join('\n').toStdString();

    // The same with debug on: the lines appear, each with the client's prefix.
    SdkHarness loud;
    loud.sdk->setup(loud.config());
    loud.sdk->setup(loud.config());
    EXPECT_TRUE(loud.log.contains("[Telemetry] Setup called despite already being setup!"));
    for (const QString& line : loud.log.lines())
        EXPECT_TRUE(line.startsWith("[Telemetry] ")) << line.toStdString();
}

TEST(TelemetrySdk, IdentityLivesInStateFilesAcrossRestartsIdentifyAndReset) {
    SdkHarness h;
    h.sdk->setup(h.config());

    // First start: a new anonymous id, stored; the distinct id is that id, not stored.
    const QString anonymous = h.sdk->getAnonymousId();
    EXPECT_TRUE(
        QRegularExpression("^[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
            .match(anonymous)
            .hasMatch())
        << anonymous.toStdString();
    EXPECT_EQ(h.sdk->getDistinctId(), anonymous);
    EXPECT_EQ(h.state("telemetry.anonymousId"), QJsonValue(anonymous));
    EXPECT_TRUE(h.state("telemetry.distinctId").isUndefined());
    EXPECT_FALSE(h.sdk->isIdentified());

    const QVariantMap person{{"name", "Ada"}, {"email", "ada@example.com"}};
    h.sdk->identify("u1", person);
    EXPECT_EQ(h.sdk->getDistinctId(), "u1");
    EXPECT_EQ(h.sdk->getAnonymousId(), anonymous);
    EXPECT_EQ(h.state("telemetry.distinctId"), QJsonValue("u1"));
    EXPECT_EQ(h.state("telemetry.isIdentified"), QJsonValue(true));
    EXPECT_EQ(h.state("telemetry.enabledPersonProcessing"), QJsonValue(true));
    EXPECT_TRUE(h.state("telemetry.personPropertiesHash").isString());

    // The identity survives a restart; the same identify again queues nothing, a
    // change of person properties queues one "$set".
    h.restart();
    EXPECT_EQ(h.sdk->getDistinctId(), "u1");
    EXPECT_EQ(h.sdk->getAnonymousId(), anonymous);
    EXPECT_TRUE(h.sdk->isIdentified());
    h.sdk->identify("u1", person);
    EXPECT_EQ(eventNames(h.queued()), QStringList({"$identify"}));
    h.sdk->identify("u1", QVariantMap{{"name", "Ada L."}});
    h.sdk->identify("u1", QVariantMap{{"name", "Ada L."}});
    h.sdk->identify("u1", QVariantMap{});
    EXPECT_EQ(eventNames(h.queued()), QStringList({"$identify", "$set"}));

    // Reset: a new anonymous id, no identity files; queued events stay for upload.
    h.sdk->reset();
    const QString next = h.sdk->getDistinctId();
    EXPECT_NE(next, anonymous);
    EXPECT_EQ(h.sdk->getAnonymousId(), next);
    EXPECT_FALSE(h.sdk->isIdentified());
    for (const char* gone : {"telemetry.distinctId", "telemetry.isIdentified",
                             "telemetry.enabledPersonProcessing", "telemetry.personPropertiesHash"})
        EXPECT_TRUE(h.state(gone).isUndefined()) << gone;
    EXPECT_EQ(h.state("telemetry.anonymousId"), QJsonValue(next));
    EXPECT_EQ(h.queued().size(), 2);

    // After a reset the same person is identified afresh.
    h.sdk->identify("u1", person);
    EXPECT_EQ(eventNames(h.queued()), QStringList({"$identify", "$set", "$identify"}));
    EXPECT_EQ(h.queued().last().value("properties").toObject().value("$anon_distinct_id"), next);

    // With reuseAnonymousId the anonymous id outlives a reset.
    SdkHarness keep;
    TelemetryConfig reuse = keep.config();
    reuse.reuseAnonymousId = true;
    keep.sdk->setup(reuse);
    const QString kept = keep.sdk->getAnonymousId();
    keep.sdk->identify("u2", QVariantMap{});
    keep.sdk->reset();
    EXPECT_EQ(keep.sdk->getDistinctId(), kept);
}

TEST(TelemetrySdk, FlagsRequestsFollowIdentifyAndResetAndTheirAnswersChangeNothing) {
    struct Case {
        const char* name;
        ScriptedResponse answer;
    };
    const QList<Case> cases = {
        {"ok", ScriptedResponse::reply(200, R"({"flags":{"beta":{"enabled":true}}})")},
        {"server error", ScriptedResponse::reply(500, "oops", "text/plain")},
        {"garbage", ScriptedResponse::reply(200, "not json", "text/plain")},
        {"closed", ScriptedResponse::closeConnection()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SdkHarness h;
        h.server.setHandler([&](const RecordedRequest& request) {
            if (request.pathWithoutQuery() == "/batch")
                return ScriptedResponse::reply(200, "{}");
            return c.answer;
        });
        h.sdk->setup(h.config());
        const QString anonymous = h.sdk->getAnonymousId();
        h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
        h.sdk->capture("after_identify", {});
        h.sdk->reset();
        h.sdk->capture("after_reset", {});
        const QString next = h.sdk->getDistinctId();

        // Qt sends a request again when a connection closes unanswered, so look for
        // the two requests by their content.
        auto flagsFor = [&](const QString& distinctId) -> std::optional<QJsonObject> {
            for (const RecordedRequest& request : h.requestsTo("/flags")) {
                const QJsonObject body = QJsonDocument::fromJson(request.body).object();
                if (request.method == "POST" && body.value("distinct_id") == distinctId &&
                    QUrlQuery(QUrl(QString::fromUtf8(request.path)).query()).queryItemValue("v") ==
                        "2")
                    return body;
            }
            return std::nullopt;
        };
        ASSERT_TRUE(waitUntil([&] { return flagsFor("u1") && flagsFor(next); }));
        const QJsonObject identified = *flagsFor("u1");
        EXPECT_EQ(identified.value("api_key"), "phc_test");
        EXPECT_EQ(identified.value("$anon_distinct_id"), anonymous);
        for (const char* key : {"$device_id", "groups", "person_properties", "group_properties",
                                "evaluation_contexts", "timezone"})
            EXPECT_TRUE(identified.contains(key)) << key;

        // Whatever the answers were, the events were queued under the right ids.
        const auto events = h.queued();
        ASSERT_EQ(eventNames(events), QStringList({"$identify", "after_identify", "after_reset"}));
        EXPECT_EQ(events[1].value("distinct_id"), "u1");
        EXPECT_EQ(events[2].value("distinct_id"), next);

        // And flush still uploads them.
        h.sdk->flush();
        ASSERT_TRUE(waitUntil([&] { return !h.requestsTo("/batch").isEmpty(); }));
        ASSERT_TRUE(waitUntil([&] { return h.queued().isEmpty(); }));
    }
}

TEST(TelemetrySdk, OptOutStopsCaptureAndIdentifyAndIsRemembered) {
    SdkHarness h;
    TelemetryConfig config = h.config();
    config.optOut = true;
    h.sdk->setup(config);
    const QString anonymous = h.sdk->getAnonymousId();
    const QStringList filesBefore = QDir(h.appFolder()).entryList(QDir::Files);

    h.sdk->capture("app_launched", {});
    h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
    EXPECT_TRUE(h.queued().isEmpty());
    EXPECT_EQ(h.sdk->getDistinctId(), anonymous);
    EXPECT_EQ(QDir(h.appFolder()).entryList(QDir::Files), filesBefore);
    EXPECT_TRUE(h.log.contains("[Telemetry] Telemetry is in OptOut state."));

    // Opting in is stored, and a stored choice wins over the configuration next time.
    h.sdk->optIn();
    EXPECT_EQ(h.state("telemetry.optOut"), QJsonValue(false));
    h.sdk->capture("app_launched", {});
    EXPECT_EQ(h.queued().size(), 1);

    h.sdk.reset();
    h.sdk = h.make();
    h.sdk->setup(config); // still says optOut = true
    EXPECT_FALSE(h.sdk->isOptOut());
    h.sdk->optOut();
    EXPECT_EQ(h.state("telemetry.optOut"), QJsonValue(true));
    h.restart();
    EXPECT_TRUE(h.sdk->isOptOut());
    h.sdk->capture("ignored", {});
    EXPECT_EQ(h.queued().size(), 1);
}

TEST(TelemetrySdk, KeepsStateInMemoryWhenTheFolderCannotBeCreated) {
    SdkHarness h;
    // A regular file where a parent folder should be: no one can create the folder.
    QFile blocker(h.dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TelemetryConfig config = h.config();
    config.storageFolder = h.dir.filePath("blocker/app");
    h.sdk->setup(config);
    ASSERT_TRUE(h.sdk->isEnabled());

    const QString anonymous = h.sdk->getAnonymousId();
    EXPECT_FALSE(anonymous.isEmpty());
    EXPECT_EQ(h.sdk->getAnonymousId(), anonymous);
    h.sdk->capture("app_launched", {});
    h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
    EXPECT_EQ(h.sdk->getDistinctId(), "u1");
    EXPECT_TRUE(h.sdk->isIdentified());
    h.sdk->reset();
    EXPECT_NE(h.sdk->getDistinctId(), anonymous);
    EXPECT_NE(h.sdk->getDistinctId(), "u1");
    EXPECT_TRUE(h.log.contains("state is kept in memory"));
}

TEST(TelemetrySdk, StateFilesAreReplacedWholeAndUnreadableOnesAreIgnored) {
    QTemporaryDir dir;
    TelemetryStorage storage(dir.filePath("app"));
    storage.setValue(TelemetryStorage::Key::anonymousId, QStringLiteral("a1"));
    storage.setValue(TelemetryStorage::Key::registerProperties, QJsonObject{{"plan", "pro"}});
    // Nothing but the state files themselves: no temporary files left behind.
    EXPECT_EQ(QDir(dir.filePath("app")).entryList(QDir::Files | QDir::Hidden),
              QStringList({"telemetry.anonymousId", "telemetry.registerProperties"}));

    // A damaged file reads as absent rather than as a wrong value.
    QFile damaged(storage.path(TelemetryStorage::Key::distinctId));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("{\"value\": \"u1");
    damaged.close();
    TelemetryStorage reopened(dir.filePath("app"));
    EXPECT_EQ(reopened.string(TelemetryStorage::Key::anonymousId), QStringLiteral("a1"));
    EXPECT_EQ(reopened.dictionary(TelemetryStorage::Key::registerProperties),
              QJsonObject({{"plan", "pro"}}));
    EXPECT_EQ(reopened.string(TelemetryStorage::Key::distinctId), std::nullopt);
    EXPECT_TRUE(reopened.isPersistent());
}

TEST(TelemetrySdk, ConcurrentCapturesLoseNothingAndKeepStateFilesWhole) {
    SdkHarness h;
    h.sdk->setup(h.config());
    constexpr int threads = 8;
    constexpr int perThread = 40;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                h.sdk->capture("tick", {{"thread", t}, {"i", i}});
                if (t == 0 && i == perThread / 2)
                    h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
                if (t == 1)
                    h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
                h.clock.advanceMs(1);
            }
        });
    for (auto& worker : workers)
        worker.join();

    const auto events = h.queued();
    QSet<QString> seen;
    QSet<QString> uuids;
    int identifies = 0;
    for (const QJsonObject& event : events) {
        uuids.insert(event.value("uuid").toString());
        if (event.value("event") == "tick") {
            const QJsonObject properties = event.value("properties").toObject();
            seen.insert(QStringLiteral("%1/%2")
                            .arg(properties.value("thread").toInt())
                            .arg(properties.value("i").toInt()));
        } else {
            ++identifies;
        }
    }
    EXPECT_EQ(seen.size(), threads * perThread);
    EXPECT_EQ(uuids.size(), events.size());
    // However the identify calls raced, the person was identified once.
    EXPECT_EQ(identifies, 1);
    EXPECT_EQ(h.state("telemetry.distinctId"), QJsonValue("u1"));
    EXPECT_TRUE(h.state("telemetry.anonymousId").isString());
    EXPECT_TRUE(h.state("telemetry.personPropertiesHash").isString());
}

TEST(TelemetrySdk, FlushesWhenTheApplicationStopsBeingActive) {
    SdkHarness h;
    h.sdk.reset();
    h.sdk = h.make(/*followApplicationState=*/true);
    h.sdk->setup(h.config());
    h.sdk->capture("app_launched", {});

    // The platform reports the application's state through this signal (the offscreen
    // platform never deactivates by itself, so the test speaks for it).
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    ASSERT_NE(gui, nullptr);
    emit gui->applicationStateChanged(Qt::ApplicationActive);
    settle();
    EXPECT_TRUE(h.requestsTo("/batch").isEmpty());
    emit gui->applicationStateChanged(Qt::ApplicationInactive);
    ASSERT_TRUE(waitUntil([&] { return !h.requestsTo("/batch").isEmpty(); }));
    EXPECT_TRUE(waitUntil([&] { return h.queued().isEmpty(); }));

    // Becoming active again after 30 quiet minutes starts a new session at once.
    const auto before = h.sdk->currentSessionId();
    h.clock.advance(31min);
    emit gui->applicationStateChanged(Qt::ApplicationActive);
    settle();
    EXPECT_NE(h.sdk->currentSessionId(), before);
    EXPECT_TRUE(h.sdk->currentSessionId().has_value());

    // A client that is gone hears nothing more.
    h.sdk.reset();
    emit gui->applicationStateChanged(Qt::ApplicationInactive);
    settle();
}
