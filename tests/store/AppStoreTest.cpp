#include "StoreHarness.h"

#include "model/Settings.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace varno;
using namespace varno::test;

namespace {

const QString dashboardToday = QStringLiteral("/api/dashboard?date=2026-12-05");
const ScriptedResponse okAnswer = ScriptedResponse::reply(200, R"({"ok":true})");

QList<QByteArray> paths(const ScriptedHttpServer& server) {
    QList<QByteArray> out;
    for (const RecordedRequest& r : server.requests())
        out.append(r.method + ' ' + r.path);
    return out;
}

} // namespace

TEST(AppStore, ConstructionReadsBothSettingsStores) {
    StoreHarness h;
    QSettings standard(h.dir.filePath(QStringLiteral("standard.ini")), QSettings::IniFormat);
    QSettings own(h.dir.filePath(QStringLiteral("own.ini")), QSettings::IniFormat);
    own.setValue(settings::serverURLKey, QStringLiteral("https://ignored.example"));
    own.setValue(settings::hiddenFriendsByAccountKey, QStringLiteral("not a map"));
    const QVariantMap bundle{
        {QStringLiteral("VarnoServerURL"), QStringLiteral("https://built.example")}};

    AppStore first(false, h.actions(), &h.analytics, &own, &standard, bundle);
    EXPECT_EQ(first.serverURL(), QStringLiteral("https://built.example"));
    EXPECT_TRUE(first.hiddenFriendsByAccount().isEmpty());
    EXPECT_EQ(first.deviceId().size(), 36);
    EXPECT_EQ(first.deviceId(), first.deviceId().toUpper());
    EXPECT_EQ(own.value(settings::deviceIdKey).toString(), first.deviceId());
    EXPECT_FALSE(standard.contains(settings::deviceIdKey));

    standard.setValue(settings::serverURLKey, QStringLiteral("https://chosen.example"));
    AppStore second(false, h.actions(), &h.analytics, &own, &standard, bundle);
    EXPECT_EQ(second.serverURL(), QStringLiteral("https://chosen.example"));
    EXPECT_EQ(second.deviceId(), first.deviceId());
    EXPECT_EQ(second.session(), std::nullopt);
    EXPECT_FALSE(second.busy());

    AppStoreActions restoring = h.actions();
    const SavedSession saved{QStringLiteral("t"), alice(), QStringLiteral("https://x")};
    restoring.readSession = [saved] { return saved; };
    AppStore restored(true, restoring, &h.analytics, &own, &standard, bundle);
    EXPECT_EQ(restored.session(), saved);
}

TEST(AppStore, ChangeSignalsFollowTheChangeRule) {
    StoreHarness h;
    AppStore& store = h.makeStore();
    QSignalSpy busy(&store, &AppStore::busyChanged);
    QSignalSpy error(&store, &AppStore::errorChanged);
    QSignalSpy server(&store, &AppStore::serverURLChanged);
    QSignalSpy dashboard(&store, &AppStore::dashboardChanged);
    QSignalSpy session(&store, &AppStore::sessionChanged);

    store.setBusy(false);
    store.setError(std::nullopt);
    store.setServerURL(store.serverURL());
    EXPECT_EQ(busy.count() + error.count() + server.count(), 0);
    store.setBusy(true);
    store.setBusy(true);
    store.setError(QStringLiteral("x"));
    store.setError(QStringLiteral("x"));
    EXPECT_EQ(busy.count(), 1);
    EXPECT_EQ(error.count(), 1);

    const Dashboard d = decodeJson<Dashboard>(dashboardJson());
    store.setDashboard(d);
    store.setDashboard(d);
    EXPECT_EQ(dashboard.count(), 2);

    // Every session assignment notifies and updates analytics, equal or not.
    const SavedSession s{QStringLiteral("t"), alice(), h.serverBase()};
    store.setSession(s);
    store.setSession(s);
    store.setSession(std::nullopt);
    EXPECT_EQ(session.count(), 3);
    EXPECT_EQ(h.telemetry.calls, (QStringList{"identify u-alice", "identify u-alice", "reset"}));
}

TEST(AppStore, SuccessfulSyncUploadsThenCapturesThenReloads) {
    StoreHarness h;
    AppStore& store = h.signedInStore();
    h.server.enqueue(okAnswer);
    h.server.enqueue(ScriptedResponse::reply(200, dashboardJson({"f1"}, QStringLiteral("R1"))));
    QSignalSpy busy(&store, &AppStore::busyChanged);

    awaitTask(store.refresh(true));

    EXPECT_EQ(paths(h.server),
              (QList<QByteArray>{"POST /api/usage", "GET " + dashboardToday.toUtf8()}));
    EXPECT_EQ(store.snapshot(), sampleSnapshot());
    EXPECT_EQ(store.lastSynced(), h.clock);
    // Captured once, after the upload's answer and before the dashboard request.
    EXPECT_EQ(h.telemetry.captures(), QStringList{"capture usage_sync_completed"});
    EXPECT_EQ(h.telemetry.requestsSeenAtCapture, QList<int>{1});
    ASSERT_TRUE(store.dashboard().has_value());
    EXPECT_EQ(store.dashboard()->referralCode, QStringLiteral("R1"));
    EXPECT_EQ(busy.count(), 2);
    EXPECT_FALSE(store.busy());

    // Without sync: no upload, no new lastSynced, no event.
    h.server.clearRequests();
    h.clock = h.clock.addSecs(60);
    h.server.enqueue(ScriptedResponse::reply(200, dashboardJson()));
    awaitTask(store.refresh(false));
    EXPECT_EQ(paths(h.server), QList<QByteArray>{"GET " + dashboardToday.toUtf8()});
    EXPECT_EQ(store.lastSynced(), h.clock.addSecs(-60));
    EXPECT_EQ(h.telemetry.captures().size(), 1);

    // Signed out: the reading still happens, nothing is sent.
    h.server.clearRequests();
    store.setSession(std::nullopt);
    h.nextSnapshot = sampleSnapshot(99);
    awaitTask(store.refresh(true));
    EXPECT_EQ(h.server.requestCount(), 0);
    EXPECT_EQ(store.snapshot(), sampleSnapshot(99));
}

// The sync's own failure cases: what the user sees and what the store keeps.
TEST(AppStore, SyncFailures) {
    struct Row {
        const char* name;
        StoreHarness::Reading reading;
        QList<ScriptedResponse> answers;
        bool cancelDuringReading;
        QString error;
        QList<QByteArray> sent;
        bool keepsOldSnapshot;
        bool keepsOldDashboard;
        bool synced;
        bool signedOut;
    };
    const QByteArray today = "GET " + dashboardToday.toUtf8();
    const QList<Row> rows = {
        {"reading fails",
         StoreHarness::Reading::failure,
         {ScriptedResponse::reply(200, dashboardJson({"f2"}))},
         false,
         QStringLiteral("CodexBar is not installed."),
         {today},
         true,
         false,
         false,
         false},
        {"reading cancelled",
         StoreHarness::Reading::waitForCancel,
         {},
         true,
         {},
         {},
         true,
         true,
         false,
         false},
        {"upload fails",
         StoreHarness::Reading::snapshot,
         {ScriptedResponse::reply(500, "<html>down</html>", "text/html")},
         false,
         ServerClient::unavailableMessage,
         {"POST /api/usage"},
         false,
         true,
         false,
         false},
        {"dashboard fails",
         StoreHarness::Reading::snapshot,
         {okAnswer, ScriptedResponse::reply(503, R"({"error":"Back soon."})")},
         false,
         QStringLiteral("Back soon."),
         {"POST /api/usage", today},
         false,
         true,
         true,
         false},
        {"dashboard rejects the session",
         StoreHarness::Reading::snapshot,
         {okAnswer, ScriptedResponse::reply(401, "")},
         false,
         ServerClient::unavailableMessage,
         {"POST /api/usage", today},
         false,
         false,
         true,
         true},
        {"dashboard is not a dashboard",
         StoreHarness::Reading::snapshot,
         {okAnswer, ScriptedResponse::reply(200, R"({"user":{"id":"u","name":"n","email":"e"}})")},
         false,
         QStringLiteral("missing member \"leaderboard\" at $"),
         {"POST /api/usage", today},
         false,
         true,
         true,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StoreHarness h;
        AppStore& store = h.signedInStore();
        const UsageSnapshot oldSnapshot = sampleSnapshot(1);
        const Dashboard oldDashboard = decodeJson<Dashboard>(dashboardJson({"f1"}));
        h.nextSnapshot = oldSnapshot;
        awaitTask(store.refresh(false)); // default 404 for the dashboard: error, cleared below
        h.server.clearRequests();
        store.setDashboard(oldDashboard);
        store.setError(QStringLiteral("an older message"));

        h.reading = row.reading;
        h.nextSnapshot = sampleSnapshot(2);
        for (const ScriptedResponse& a : row.answers)
            h.server.enqueue(a);
        std::stop_source stop;
        if (row.cancelDuringReading)
            QTimer::singleShot(50, [&] { stop.request_stop(); });

        awaitTask(store.refresh(true, stop.get_token()), 10s);

        EXPECT_EQ(store.error().value_or(QString()), row.error);
        EXPECT_EQ(paths(h.server), row.sent);
        EXPECT_EQ(store.snapshot(), row.keepsOldSnapshot ? oldSnapshot : sampleSnapshot(2));
        if (row.signedOut) {
            EXPECT_EQ(store.session(), std::nullopt);
            EXPECT_EQ(store.dashboard(), std::nullopt);
            EXPECT_FALSE(h.keychainHasSession());
        } else {
            EXPECT_EQ(store.session(), h.session);
            if (row.keepsOldDashboard)
                EXPECT_EQ(store.dashboard(), oldDashboard);
            else
                EXPECT_NE(store.dashboard(), oldDashboard);
        }
        EXPECT_EQ(store.lastSynced().has_value(), row.synced);
        EXPECT_EQ(h.telemetry.captures().size(), row.synced ? 1 : 0);
        EXPECT_FALSE(store.busy());
    }
}

TEST(AppStore, GuardedOperationsDoNothingWhileBusy) {
    StoreHarness h;
    AppStore& store = h.signedInStore();
    store.setBusy(true);
    store.setError(QStringLiteral("kept"));
    awaitTask(store.refresh(true));
    awaitTask(store.logout());
    awaitTask(store.loginWithGitHub());
    awaitTask(store.updateFriend(QStringLiteral("r1"), true));
    EXPECT_FALSE(awaitTask(
        store.mutate(QStringLiteral("friends/r1"), "PATCH", QByteArray("{}"), std::nullopt)));
    EXPECT_EQ(h.server.requestCount(), 0);
    EXPECT_EQ(h.readings, 0);
    EXPECT_EQ(store.error(), QStringLiteral("kept"));
    EXPECT_EQ(store.session(), h.session);
    EXPECT_TRUE(store.busy());

    // A cancelled caller doesn't start a sync either.
    store.setBusy(false);
    std::stop_source stop;
    stop.request_stop();
    awaitTask(store.refresh(true, stop.get_token()));
    EXPECT_EQ(h.readings, 0);
    EXPECT_EQ(store.error(), QStringLiteral("kept"));
}

TEST(AppStore, LogoutAlwaysSignsOutHere) {
    for (const bool serverUp : {true, false}) {
        SCOPED_TRACE(serverUp ? "server answers" : "server down");
        StoreHarness h;
        AppStore& store = h.signedInStore();
        h.server.enqueue(okAnswer);
        h.server.enqueue(ScriptedResponse::reply(200, dashboardJson()));
        awaitTask(store.refresh(true));
        ASSERT_TRUE(store.lastSynced().has_value());
        h.server.clearRequests();
        if (!serverUp)
            h.server.stop();
        else
            h.server.enqueue(okAnswer);

        awaitTask(store.logout());

        EXPECT_EQ(store.session(), std::nullopt);
        EXPECT_EQ(store.dashboard(), std::nullopt);
        EXPECT_EQ(store.lastSynced(), std::nullopt);
        EXPECT_TRUE(store.snapshot().has_value());
        EXPECT_FALSE(h.keychainHasSession());
        EXPECT_FALSE(store.busy());
        EXPECT_EQ(h.telemetry.calls.last(), QStringLiteral("reset"));
        if (serverUp) {
            EXPECT_EQ(store.error(), std::nullopt);
            ASSERT_EQ(h.server.requestCount(), 1);
            EXPECT_EQ(h.server.requests().at(0).path, "/api/auth/logout");
            EXPECT_EQ(h.server.requests().at(0).body, "{}");
            EXPECT_EQ(h.server.requests().at(0).header("Authorization"), "Bearer tok-1");
        } else {
            EXPECT_EQ(store.error(),
                      QStringLiteral("Signed out on this Mac. The server was unavailable, so its "
                                     "session will expire automatically."));
        }
    }
}
