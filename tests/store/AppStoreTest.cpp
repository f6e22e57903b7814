// SPDX-License-Identifier: MIT
#include "StoreHarness.h"

#include "model/Formatting.h"

TEST(AppStore, Construction) {
    StoreHarness h;
    QSettings standard(h.dir.filePath("standard.ini"), QSettings::IniFormat);
    QSettings own(h.dir.filePath("own.ini"), QSettings::IniFormat);
    own.setValue(settings::serverURLKey, "https://ignored.example");
    own.setValue(settings::hiddenFriendsByAccountKey, "not a map");
    const QVariantMap bundle{{"VarnoServerURL", "https://built.example"}};

    AppStore first(false, h.actions(), &h.analytics, &own, &standard, bundle);
    EXPECT_EQ(first.serverURL(), "https://built.example");
    EXPECT_TRUE(first.hiddenFriendsByAccount().isEmpty());
    EXPECT_EQ(first.deviceId().size(), 36);
    EXPECT_EQ(first.deviceId(), first.deviceId().toUpper());
    EXPECT_FALSE(standard.contains(settings::deviceIdKey));

    // The user's own choice of server wins; the device id stays.
    standard.setValue(settings::serverURLKey, "https://chosen.example");
    AppStoreActions restoring = h.actions();
    restoring.readSession = [&h] { return h.session; };
    AppStore second(true, restoring, &h.analytics, &own, &standard, bundle);
    EXPECT_EQ(second.serverURL(), "https://chosen.example");
    EXPECT_EQ(second.deviceId(), first.deviceId());
    EXPECT_EQ(second.session(), h.session);
}

TEST(AppStore, ChangeSignalsFollowTheChangeRule) {
    StoreHarness h;
    AppStore& store = h.makeStore();
    QStringList notified;
    for (const auto& [signal, name] : {std::pair{&AppStore::busyChanged, "busy"},
                                       {&AppStore::errorChanged, "error"},
                                       {&AppStore::serverURLChanged, "server"},
                                       {&AppStore::dashboardChanged, "dashboard"},
                                       {&AppStore::sessionChanged, "session"}})
        QObject::connect(&store, signal, [&notified, name] { notified << name; });

    store.setServerURL(store.serverURL());
    for (int i = 0; i < 2; ++i) {
        store.setBusy(true);
        store.setError("x");
        store.setDashboard(dashboard());
        store.setSession(h.session);
    }
    store.setSession(std::nullopt);
    EXPECT_EQ(notified, (QStringList{"busy", "error", "dashboard", "session", "dashboard",
                                     "session", "session"}));
    // Every session assignment also reaches analytics.
    EXPECT_EQ(h.telemetry.calls, (QStringList{"identify u-alice", "identify u-alice", "reset"}));
}

// A sync with the real reader and the stand-in tool, the ways it can stop part way,
// and a sign-out, which always completes here: what the user sees, what was sent,
// and what the store keeps.
TEST(AppStore, SyncAndSignOut) {
    enum class Run { sync, quietSync, syncWithoutTool, logout };
    using enum Run;
    struct Row {
        const char* name;
        Run run;
        QList<ScriptedResponse> answers;
        QString error;
        QStringList sent;
        const char* board;   // its friend ("f1" the old one, "" none); null: signed out
        bool synced = false; // lastSynced moved on, and the event went out
        bool cancel = false; // the caller stops once the first request is out
    };
    const QString upload = QStringLiteral("POST /api/usage");
    const QStringList both{upload, dashboardToday};
    const QStringList logOut{"POST /api/auth/logout"};
    const ScriptedResponse f2 = reply(200, dashboardJson({"f2"}));
    const ScriptedResponse close = ScriptedResponse::closeConnection();
    // clang-format off
    const QList<Row> rows = {
        {"uploads, then reloads", sync, {okAnswer, f2}, "", both, "f2", true},
        {"without upload; a JSON null is no dashboard", quietSync, {reply(200, "null")}, "",
         {dashboardToday}, ""},
        {"no CodexBar", syncWithoutTool, {f2},
         "Install CodexBar to read your Codex and Claude Code token usage.", {dashboardToday}, "f2"},
        {"upload fails", sync, {reply(500, "<html>down</html>", "text/html")},
         ServerClient::unavailableMessage, {upload}, "f1"},
        {"upload cancelled", sync, {ScriptedResponse(okAnswer).withDelay(5s)}, "", {upload}, "f1",
         false, true},
        {"dashboard fails", sync, {okAnswer, reply(503, R"({"error":"Soon."})")}, "Soon.", both,
         "f1", true},
        {"dashboard rejects the session", sync, {okAnswer, reply(401)},
         ServerClient::unavailableMessage, both, nullptr, true},
        {"signed out on the server too", logout, {okAnswer}, "an older message", logOut, nullptr},
        {"server gone at sign-out", logout, {close, close}, "Signed out on this computer. The server "
         "was unavailable, so its session will expire automatically.", logOut, nullptr},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StoreHarness h;
        AppStore& store = h.signedInStore();
        h.server.enqueue(okAnswer);
        h.server.enqueue(reply(200, dashboardJson({"f1"})));
        awaitTask(store.refresh(true));
        ASSERT_EQ(store.snapshot().value_or(UsageSnapshot()).daily.size(), 60);
        const std::optional<UsageSnapshot> before = store.snapshot();
        const QDateTime synced = std::exchange(h.clock, h.clock.addSecs(60));
        h.server.clearRequests();
        store.setError("an older message");
        h.toolMissing = row.run == syncWithoutTool;
        for (const ScriptedResponse& a : row.answers)
            h.server.enqueue(a);

        QCoro::Task<void> running = row.run == logout
                                        ? store.logout()
                                        : store.refresh(row.run != quietSync, h.stop.get_token());
        if (row.cancel) {
            h.server.waitForRequests(1);
            h.stop.request_stop();
        }
        awaitTask(std::move(running), 10s);

        EXPECT_EQ(store.error().value_or(QString()), row.error);
        EXPECT_EQ(sent(h.server), row.sent);
        EXPECT_EQ(store.snapshot() != before, row.run == sync || row.run == quietSync);
        for (const RecordedRequest& r : h.server.requests()) {
            EXPECT_EQ(r.header("Authorization"), "Bearer tok-1");
            EXPECT_TRUE(r.path != "/api/auth/logout" || r.body == "{}");
            if (r.path == "/api/usage") {
                const JsonNode body = parseJsonDocument(r.body);
                EXPECT_EQ(body.requiredString("deviceId"), store.deviceId());
                EXPECT_EQ(body.requiredString("collectedAt"),
                          utcTimestamp(store.snapshot()->collectedAt));
                EXPECT_EQ(body.requiredList<DailyUsage>("daily"), store.snapshot()->daily);
            }
        }
        const bool signedIn = row.board != nullptr;
        EXPECT_EQ(store.dashboard(),
                  signedIn && *row.board ? std::optional(dashboard({row.board})) : std::nullopt);
        EXPECT_EQ(store.session().has_value(), signedIn);
        EXPECT_EQ(h.keychainHasSession(), signedIn);
        EXPECT_EQ(h.telemetry.calls.last() == "reset", !signedIn);
        EXPECT_EQ(store.lastSynced(), row.run == logout ? std::nullopt
                                      : row.synced      ? std::optional(h.clock)
                                                        : std::optional(synced));
        // Captured once per upload that worked, before the dashboard request.
        EXPECT_EQ(h.telemetry.captures(),
                  QStringList(row.synced ? 2 : 1, "capture usage_sync_completed after 1"));
        EXPECT_FALSE(store.busy());
    }
}

TEST(AppStore, GuardedOperationsDoNothingWhileBusy) {
    StoreHarness h;
    AppStore& store = h.signedInStore();
    store.setBusy(true);
    store.setError("kept");
    awaitTask(store.refresh(true));
    awaitTask(store.logout());
    awaitTask(store.loginWithGitHub());
    awaitTask(store.updateFriend("r1", true));
    EXPECT_FALSE(awaitTask(store.mutate("friends/r1", "PATCH", "{}", {})));
    EXPECT_EQ(h.server.requestCount(), 0);
    EXPECT_EQ(h.readings, 0);
    EXPECT_EQ(store.error(), "kept");
    EXPECT_EQ(store.session(), h.session);
    EXPECT_TRUE(store.busy());

    // A caller that is already cancelled doesn't start a sync either.
    store.setBusy(false);
    h.stop.request_stop();
    awaitTask(store.refresh(true, h.stop.get_token()));
    EXPECT_EQ(h.readings, 0);
    EXPECT_EQ(store.error(), "kept");

    // Signed out, a sync only reads.
    store.setSession(std::nullopt);
    awaitTask(store.refresh(true));
    EXPECT_EQ(h.readings, 1);
    EXPECT_EQ(h.server.requestCount(), 0);
}
