// SPDX-License-Identifier: MIT
#include "Support.h"

#include "analytics/client/TelemetryStorage.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSet>
#include <QSize>
#include <QTimeZone>

#include <cmath>
#include <thread>

#include <csignal>

#include <sys/resource.h>

using namespace varno;
using namespace varno::test;

namespace {

// Lets queued main-thread work (the remote-configuration requests) run.
void settle() {
    waitUntil([] { return false; }, 150ms);
}

QJsonObject propertiesOf(const QJsonObject& event) {
    return event.value("properties").toObject();
}

} // namespace

TEST(TelemetrySdk, DoesNothingBeforeSetupOrAfterASetupWithoutToken) {
    SdkHarness h;
    auto use = [&] {
        h.sdk->capture("app_launched", {{"a", 1}});
        h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
        h.sdk->reset();
        h.sdk->flush();
    };
    use();
    TelemetryConfig blank = h.config();
    blank.projectToken = QString();
    h.sdk->setup(blank);
    use();
    settle();
    EXPECT_FALSE(h.sdk->isEnabled());
    EXPECT_EQ(h.sdk->getDistinctId(), QString());
    EXPECT_FALSE(QFileInfo::exists(h.appFolder()));
    EXPECT_EQ(h.server.requestCount(), 0);
    EXPECT_TRUE(h.log.contains("[Telemetry] Telemetry SDK will be disabled because projectToken or "
                               "apiKey is empty."));
    EXPECT_TRUE(h.log.contains("[Telemetry] Telemetry method was called without `setup` being "
                               "complete. Call will be ignored."));
}

TEST(TelemetrySdk, SetsUpOnceFetchesRemoteConfigOnceAndLogsOnlyWithDebug) {
    for (const bool debug : {false, true}) {
        SCOPED_TRACE(debug);
        SdkHarness h;
        TelemetryConfig config = h.config();
        config.debug = debug;
        h.sdk->setup(config);
        config.storageFolder = h.dir.filePath("elsewhere");
        h.sdk->setup(config); // changes nothing
        EXPECT_EQ(h.sdk->storageFolder(), h.appFolder());
        EXPECT_FALSE(QFileInfo::exists(config.storageFolder));

        ASSERT_TRUE(h.server.waitForRequests(1));
        settle();
        ASSERT_EQ(h.server.requestCount(), 1);
        EXPECT_EQ(h.server.requests()[0].method, "GET");
        EXPECT_EQ(h.server.requests()[0].pathWithoutQuery(), "/array/phc_test/config");
        EXPECT_EQ(h.log.contains("[Telemetry] Setup called despite already being setup!"), debug);
        EXPECT_EQ(h.log.lines().isEmpty(), !debug);
        for (const QString& line : h.log.lines())
            EXPECT_TRUE(line.startsWith("[Telemetry] ")) << line.toStdString();
    }
}

TEST(TelemetrySdk, IdentityLivesInStateFilesAcrossRestartsIdentifyAndReset) {
    SdkHarness h;
    h.sdk->setup(h.config());
    // First start: a new anonymous id, stored; the distinct id is that id, not stored.
    const QString anonymous = h.sdk->getAnonymousId();
    EXPECT_TRUE(isUuidV7(anonymous)) << anonymous.toStdString();
    EXPECT_EQ(h.sdk->getDistinctId(), anonymous);
    EXPECT_EQ(h.state("anonymousId"), QJsonValue(anonymous));
    EXPECT_TRUE(h.state("distinctId").isUndefined());

    const QVariantMap ada{{"name", "Ada"}, {"email", "ada@example.com"}};
    h.sdk->identify("u1", ada);
    EXPECT_EQ(h.state("distinctId"), QJsonValue("u1"));
    EXPECT_EQ(h.state("isIdentified"), QJsonValue(true));
    EXPECT_EQ(h.state("enabledPersonProcessing"), QJsonValue(true));
    EXPECT_TRUE(h.state("personPropertiesHash").isString());

    // After a restart the same identify queues nothing, new person properties one "$set".
    h.restart();
    EXPECT_EQ(h.sdk->getDistinctId(), "u1");
    EXPECT_EQ(h.sdk->getAnonymousId(), anonymous);
    EXPECT_TRUE(h.sdk->isIdentified());
    h.sdk->identify("u1", ada);
    h.sdk->identify("u1", QVariantMap{{"name", "Ada L."}});
    h.sdk->identify("u1", QVariantMap{{"name", "Ada L."}});
    h.sdk->identify("u1", QVariantMap{});
    EXPECT_EQ(h.queuedNames(), QStringList({"$identify", "$set"}));

    // Reset: a new anonymous id and no identity files; the same person is identified afresh.
    h.sdk->reset();
    const QString next = h.sdk->getDistinctId();
    EXPECT_NE(next, anonymous);
    EXPECT_EQ(h.sdk->getAnonymousId(), next);
    EXPECT_FALSE(h.sdk->isIdentified());
    for (const char* gone :
         {"distinctId", "isIdentified", "enabledPersonProcessing", "personPropertiesHash"})
        EXPECT_TRUE(h.state(gone).isUndefined()) << gone;
    EXPECT_EQ(h.state("anonymousId"), QJsonValue(next));
    h.sdk->identify("u1", ada);
    EXPECT_EQ(h.queuedNames(), QStringList({"$identify", "$set", "$identify"}));
    EXPECT_EQ(propertiesOf(h.queued().last()).value("$anon_distinct_id"), next);
}

TEST(TelemetrySdk, FlagsRequestsFollowIdentifyAndResetAndTheirAnswersChangeNothing) {
    for (const ScriptedResponse& answer :
         {ScriptedResponse::reply(200, R"({"flags":{"beta":{"enabled":true}}})"),
          ScriptedResponse::reply(500, "oops", "text/plain"),
          ScriptedResponse::reply(200, "not json", "text/plain"),
          ScriptedResponse::closeConnection()}) {
        SCOPED_TRACE(answer.status);
        SdkHarness h;
        h.server.setHandler([&](const RecordedRequest& request) {
            return request.pathWithoutQuery() == "/batch" ? ScriptedResponse::reply(200, "{}")
                                                          : answer;
        });
        h.sdk->setup(h.config());
        const QString anonymous = h.sdk->getAnonymousId();
        h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
        h.sdk->reset();
        h.sdk->capture("after_reset", {});
        const QString next = h.sdk->getDistinctId();

        // Qt repeats a request whose connection closed unanswered: find them by content.
        auto flagsFor = [&](const QString& distinctId) -> std::optional<QJsonObject> {
            for (const RecordedRequest& request : h.server.requests()) {
                const QJsonObject body = QJsonDocument::fromJson(request.body).object();
                if (request.method == "POST" && request.path == "/flags?v=2" &&
                    body.value("distinct_id") == distinctId)
                    return body;
            }
            return std::nullopt;
        };
        ASSERT_TRUE(waitUntil([&] { return flagsFor("u1") && flagsFor(next); }));
        const QJsonObject identified = *flagsFor("u1");
        EXPECT_EQ(identified.value("api_key"), "phc_test");
        EXPECT_EQ(identified.value("$anon_distinct_id"), anonymous);

        // Whatever the answers, events are queued under the right ids and flush uploads.
        ASSERT_EQ(h.queuedNames(), QStringList({"$identify", "after_reset"}));
        EXPECT_EQ(h.queued()[1].value("distinct_id"), next);
        h.sdk->flush();
        ASSERT_TRUE(waitUntil([&] { return h.queued().isEmpty(); }));
    }
}

TEST(TelemetrySdk, OptOutStopsCaptureAndIdentifyAndTheStoredChoiceWins) {
    SdkHarness h;
    TelemetryConfig config = h.config();
    config.optOut = true;
    h.sdk->setup(config);
    const QString anonymous = h.sdk->getAnonymousId();
    const QStringList files = QDir(h.appFolder()).entryList(QDir::Files);
    h.sdk->capture("app_launched", {});
    h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
    EXPECT_EQ(h.sdk->getDistinctId(), anonymous);
    EXPECT_EQ(QDir(h.appFolder()).entryList(QDir::Files), files) << "nothing was written";

    h.sdk->optIn();
    h.restart(config); // the stored choice wins over the configuration
    h.sdk->capture("app_launched", {});
    EXPECT_EQ(h.queuedNames(), QStringList{"app_launched"});
}

TEST(TelemetrySdk, KeepsStateInMemoryWhenTheFolderCannotBeCreated) {
    SdkHarness h;
    ASSERT_TRUE(writeFile(h.dir.filePath("blocker"), "")); // a file where a folder should be
    TelemetryConfig config = h.config();
    config.storageFolder = h.dir.filePath("blocker/app");
    h.sdk->setup(config);
    const QString anonymous = h.sdk->getAnonymousId();
    EXPECT_FALSE(anonymous.isEmpty());
    EXPECT_EQ(h.sdk->getAnonymousId(), anonymous);
    h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
    EXPECT_EQ(h.sdk->getDistinctId(), "u1");
    h.sdk->reset();
    EXPECT_NE(h.sdk->getDistinctId(), anonymous);
    EXPECT_TRUE(h.log.contains("state is kept in memory"));
}

TEST(TelemetrySdk, StateFilesArePrivateAndAFolderDeletedWhileRunningIsMadeAgain) {
    const Umask usual(022);
    SdkHarness h;
    const auto stateFile = [&](const char* name) {
        return QDir(h.appFolder()).filePath(QStringLiteral("telemetry.") + name);
    };
    const auto modeOf = [&](const char* name) { return test::modeOf(stateFile(name)); };
    // An older version's files, readable by everyone.
    for (const auto& [name, value] :
         {std::pair{"anonymousId", "0190a8f0-0000-7000-8000-000000000001"}, {"distinctId", "u0"}}) {
        ASSERT_TRUE(writeFile(stateFile(name), QByteArray(R"({"value":")") + value + R"("})"));
        ASSERT_EQ(modeOf(name), 0644);
    }
    h.sdk->setup(h.config());
    EXPECT_EQ(h.sdk->getDistinctId(), "u0");
    EXPECT_EQ(h.sdk->getAnonymousId(), "0190a8f0-0000-7000-8000-000000000001");
    EXPECT_EQ(modeOf("distinctId"), 0600) << "made private when read";
    EXPECT_EQ(modeOf("anonymousId"), 0600);
    h.sdk->reset();
    h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
    for (const char* name : {"anonymousId", "distinctId", "isIdentified", "enabledPersonProcessing",
                             "personPropertiesHash"})
        EXPECT_EQ(modeOf(name), 0600) << name;

    // Deleted under the running client: the next state write and the next event each
    // bring back the folder they need.
    ASSERT_TRUE(QDir(h.appFolder()).removeRecursively());
    h.sdk->reset();
    const QString next = h.sdk->getAnonymousId();
    EXPECT_EQ(h.state("anonymousId"), QJsonValue(next));
    EXPECT_EQ(modeOf("anonymousId"), 0600);
    h.sdk->capture("after_deletion", {});
    EXPECT_EQ(h.queuedNames(), QStringList{"after_deletion"});
}

TEST(TelemetrySdk, AStateWriteTheDiskRefusesKeepsTheStoredValue) {
    QTemporaryDir dir;
    TelemetryStorage(dir.path()).setValue(TelemetryStorage::Key::distinctId, "u0");
    {
        // Files may grow to 1 KB only, as on a disk that is all but full.
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit small{1024, limit.rlim_max};
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        TelemetryStorage(dir.path())
            .setValue(TelemetryStorage::Key::distinctId, QString(4096, QLatin1Char('x')));
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, previous);
    }
    EXPECT_EQ(TelemetryStorage(dir.path()).string(TelemetryStorage::Key::distinctId), "u0")
        << "a cut write must leave the old value whole";
}

TEST(TelemetrySdk, ConcurrentCapturesLoseNothingAndKeepStateFilesWhole) {
    SdkHarness h;
    h.sdk->setup(h.config());
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                h.sdk->capture("tick", {{"tick", t * 40 + i}});
                if (t < 2) // two threads race to identify the same person
                    h.sdk->identify("u1", QVariantMap{{"name", "Ada"}});
            }
        });
    for (auto& worker : workers)
        worker.join();

    QSet<int> ticks;
    const auto events = h.queued();
    for (const QJsonObject& event : events)
        ticks.insert(propertiesOf(event).value("tick").toInt(-1));
    EXPECT_EQ(ticks.size(), 8 * 40 + 1) << "every tick and one identify (-1)";
    EXPECT_EQ(events.size(), 8 * 40 + 1);
    EXPECT_EQ(h.state("distinctId"), QJsonValue("u1"));
    EXPECT_TRUE(h.state("anonymousId").isString());
    EXPECT_TRUE(h.state("personPropertiesHash").isString());
}

TEST(Capture, QueuedEventsCarryIdentityTimeSessionAndEveryPropertyLayer) {
    SdkHarness h;
    h.sdk->setup(h.config());
    const QString anonymous = h.sdk->getAnonymousId();
    h.sdk->capture("app_launched",
                   {{"app_version", "1.4.0"}, {"platform", "linux"}, {"$os_name", "CallerWins"}});
    h.sdk->identify("u1", QVariantMap{{"name", "Ada"}}, QVariantMap{{"first_seen", "2026"}});
    h.sdk->capture("after", {{"$session_id", "mine"}});
    h.sdk->capture("blank session", {{"$session_id", ""}});

    const auto events = h.queued();
    ASSERT_EQ(events.size(), 4);
    const QString session = *h.sdk->currentSessionId();
    EXPECT_EQ(events[0].value("distinct_id"), anonymous);
    EXPECT_EQ(events[0].value("timestamp"), "2026-03-01T10:00:00.250Z");
    const QJsonObject p = propertiesOf(events[0]);
    const QJsonObject expected{
        {"$app_name", "Varno"},
        {"$app_version", "1.4.0"},
        {"$app_build", "140"},
        {"$app_namespace", "app.varno"},
        {"$device_type", "Desktop"},
        {"$device_manufacturer", "Framework"},
        {"$device_model", "Laptop 13"},
        {"$device_name", "workstation"},
        {"$os_version", "12"},
        {"$is_emulator", false},
        {"$lib", "varno-telemetry"},
        {"$lib_version", "1.0.0"},
        {"$is_identified", false},
        {"$process_person_profile", false},
        {"$network_wifi", true},
        {"$network_cellular", false},
        {"$session_id", session},
        {"app_version", "1.4.0"},
        {"platform", "linux"},
        {"$os_name", "CallerWins"},
        {"$timezone", QString::fromUtf8(QTimeZone::systemTimeZoneId())},
        {"$locale", QLocale::languageToCode(QLocale().language())},
    };
    for (auto it = expected.begin(); it != expected.end(); ++it)
        EXPECT_EQ(p.value(it.key()), it.value()) << it.key().toStdString();
    EXPECT_FALSE(p.contains("$set"));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        EXPECT_EQ(p.value("$screen_width"), screen->geometry().width());
        EXPECT_EQ(p.value("$screen_height"), screen->geometry().height());
    }

    const QJsonObject identify = propertiesOf(events[1]);
    EXPECT_EQ(events[1].value("event"), "$identify");
    EXPECT_EQ(events[1].value("distinct_id"), "u1");
    EXPECT_EQ(identify.value("$anon_distinct_id"), anonymous);
    EXPECT_EQ(identify.value("$set"), QJsonObject({{"name", "Ada"}}));
    EXPECT_EQ(identify.value("$set_once"), QJsonObject({{"first_seen", "2026"}}));
    EXPECT_EQ(identify.value("$process_person_profile"), true);
    const QJsonObject after = propertiesOf(events[2]);
    EXPECT_EQ(after.value("$is_identified"), true);
    EXPECT_EQ(after.value("$process_person_profile"), true);
    EXPECT_EQ(after.value("$session_id"), "mine") << "the caller's own session wins";
    EXPECT_EQ(propertiesOf(events[3]).value("$session_id"), session) << "but not a blank one";
    h.sdk->reset();
    h.sdk->capture("after reset", {});
    const QJsonValue next = propertiesOf(h.queued().last()).value("$session_id");
    EXPECT_TRUE(next.isString() && next != session) << "a reset starts a new session";
}

TEST(Capture, UnserialisablePropertiesAreDroppedOneByOne) {
    SdkHarness h;
    h.sdk->setup(h.config());
    const QDateTime when =
        QDateTime::fromString("2026-02-28T23:59:58.900+01:00", Qt::ISODateWithMs);
    h.sdk->capture("mixed", {
                                {"big", qulonglong(1) << 40},
                                {"none", QVariant()},
                                {"when", when},
                                {"list", QVariantList{1, "two", QVariantMap{{"three", 3}}}},
                                {"size", QSize(3, 4)},
                                {"url", QUrl("https://example.com")},
                                {"nan", std::nan("")},
                                {"bytes", QByteArray("raw")},
                                {"nested", QVariantList{1, QSize(1, 1)}},
                                {"deep", QVariantMap{{"ok", 1}, {"inf", INFINITY}}},
                            });
    const QJsonObject p = propertiesOf(h.queued().at(0));
    EXPECT_EQ(p.value("big"), QJsonValue(qint64(1) << 40));
    EXPECT_TRUE(p.contains("none") && p.value("none").isNull());
    EXPECT_EQ(p.value("when"), "2026-02-28T22:59:58Z");
    EXPECT_EQ(p.value("list"), QJsonArray({1, "two", QJsonObject{{"three", 3}}}));
    for (const char* dropped : {"size", "url", "nan", "bytes", "nested", "deep"}) {
        EXPECT_FALSE(p.contains(dropped)) << dropped;
        EXPECT_TRUE(h.log.contains(
            QStringLiteral("[Telemetry] property: %1 isn't serializable, dropping the item")
                .arg(dropped)))
            << dropped;
    }
}

TEST(Capture, DeviceInfoComesFromThisMachine) {
    const TelemetryDeviceInfo device = TelemetryDeviceInfo::current();
    EXPECT_FALSE(device.osVersion.isEmpty());
#if defined(Q_OS_LINUX)
    EXPECT_EQ(device.osName, "Linux");
    const QString model =
        readText("/sys/class/dmi/id/product_name").trimmed(); // absent in containers
    EXPECT_TRUE(device.model == model || device.model.isEmpty()) << "or a firmware placeholder";
#endif
}
