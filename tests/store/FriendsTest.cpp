#include "StoreHarness.h"

#include "model/Settings.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace varno;
using namespace varno::test;

namespace {

QStringList ids(const QList<LeaderboardEntry>& entries) {
    QStringList out;
    for (const LeaderboardEntry& e : entries)
        out.append(e.id);
    return out;
}

QString loadError(AppStore& store) {
    try {
        awaitTask(store.loadReferralURL());
        return {};
    } catch (const AppError& e) {
        return e.message();
    }
}

} // namespace

TEST(Friends, HidingIsPerAccountSortedAndSurvivesARestart) {
    StoreHarness h;
    AppStore& store = h.signedInStore();
    store.setDashboard(decodeJson<Dashboard>(dashboardJson({"b", "a"})));
    QSignalSpy changed(&store, &AppStore::hiddenFriendsChanged);

    store.setFriendHidden(QStringLiteral("b"), true);
    store.setFriendHidden(QStringLiteral("a"), true);
    store.setFriendHidden(QStringLiteral("a"), true);       // already hidden: no change
    store.setFriendHidden(QStringLiteral("u-alice"), true); // never oneself
    EXPECT_EQ(changed.count(), 2);
    EXPECT_TRUE(store.isFriendHidden(QStringLiteral("a")));
    EXPECT_EQ(ids(store.visibleLeaderboard()), QStringList{"u-alice"});

    // The stored map: one key (address without trailing slashes, a line feed, the
    // user id) and a sorted list. The address here had none to begin with.
    const QString key = h.serverBase() + QLatin1Char('\n') + QStringLiteral("u-alice");
    const QMap<QString, QStringList> expected{{key, {"a", "b"}}};
    EXPECT_EQ(store.hiddenFriendsByAccount(), expected);

    // A fresh store on the same settings file, as after a restart.
    h.settings = std::make_unique<QSettings>(h.settingsPath, QSettings::IniFormat);
    AppStore& restarted = h.makeStore();
    EXPECT_EQ(settings::readHiddenFriends(*h.settings), expected);
    restarted.setSession(SavedSession{QStringLiteral("t"), alice(), h.serverBase() + "//  "});
    restarted.setDashboard(decodeJson<Dashboard>(dashboardJson({"b", "c", "a"})));
    EXPECT_EQ(ids(restarted.visibleLeaderboard()), (QStringList{"u-alice", "c"}));

    // Unhiding everything keeps the key with an empty list.
    restarted.setFriendHidden(QStringLiteral("a"), false);
    restarted.setFriendHidden(QStringLiteral("b"), false);
    restarted.setFriendHidden(QStringLiteral("zz"), false);
    EXPECT_EQ(settings::readHiddenFriends(*h.settings), (QMap<QString, QStringList>{{key, {}}}));

    // Another server, or signed out: nobody is hidden, and nothing can be.
    restarted.setFriendHidden(QStringLiteral("c"), true);
    restarted.setSession(
        SavedSession{QStringLiteral("t"), alice(), QStringLiteral("https://other")});
    EXPECT_FALSE(restarted.isFriendHidden(QStringLiteral("c")));
    EXPECT_EQ(restarted.visibleLeaderboard().size(), 4);
    restarted.setSession(std::nullopt);
    restarted.setFriendHidden(QStringLiteral("b"), true);
    EXPECT_FALSE(restarted.isFriendHidden(QStringLiteral("c")));
    EXPECT_EQ(restarted.visibleLeaderboard().size(), 4);
    EXPECT_EQ(settings::readHiddenFriends(*h.settings).size(), 1);
}

TEST(Friends, OwnRowIsShownEvenIfListed) {
    StoreHarness h;
    const QString key = h.serverBase() + QStringLiteral("\nu-alice");
    settings::writeHiddenFriends(*h.settings, {{key, {"u-alice", "x"}}});
    AppStore& store = h.signedInStore();
    store.setDashboard(decodeJson<Dashboard>(dashboardJson({"x", "y"})));
    EXPECT_EQ(ids(store.visibleLeaderboard()), (QStringList{"u-alice", "y"}));
}

TEST(Friends, InviteLinks) {
    const QString signIn = QStringLiteral("Sign in to Varno and try again.");
    const QString notAvailable =
        QStringLiteral("Invite links are not available on this server yet.");

    StoreHarness h;
    AppStore& store = h.signedInStore(
        {{QStringLiteral("VarnoWebsiteURL"), QStringLiteral("https://site.example/path?x=1#f")}});
    // Characters that would change a query's meaning are escaped.
    store.setDashboard(decodeJson<Dashboard>(dashboardJson({}, QStringLiteral("a&b=c+d #é"))));
    EXPECT_EQ(store.referralURL()->toString(QUrl::FullyEncoded),
              QStringLiteral("https://site.example/?r=a%26b%3Dc%2Bd%20%23%C3%A9"));
    // With a code at hand, no request, even while busy.
    store.setBusy(true);
    EXPECT_EQ(awaitTask(store.loadReferralURL()), *store.referralURL());
    EXPECT_EQ(h.server.requestCount(), 0);

    // No code and busy, or signed out: refused, nothing sent.
    store.setDashboard(decodeJson<Dashboard>(dashboardJson()));
    EXPECT_EQ(loadError(store), signIn);
    store.setBusy(false);
    const std::optional<SavedSession> session = store.session();
    store.setSession(std::nullopt);
    EXPECT_EQ(loadError(store), signIn);
    EXPECT_EQ(h.server.requestCount(), 0);
    store.setSession(session);

    // No code: one reload, holding busy; the new dashboard is kept either way.
    QSignalSpy busy(&store, &AppStore::busyChanged);
    h.server.enqueue(ScriptedResponse::reply(200, dashboardJson({"n"})));
    EXPECT_EQ(loadError(store), notAvailable);
    EXPECT_EQ(h.server.requestCount(), 1);
    EXPECT_EQ(busy.count(), 2);
    EXPECT_EQ(store.dashboard()->leaderboard.size(), 2);

    h.server.enqueue(ScriptedResponse::reply(200, dashboardJson({}, QString())));
    EXPECT_EQ(awaitTask(store.loadReferralURL()).toString(),
              QStringLiteral("https://site.example/?r="));

    // A failing reload throws its own error and lets go of busy.
    store.setDashboard(decodeJson<Dashboard>(dashboardJson()));
    h.server.enqueue(ScriptedResponse::reply(502, R"({"error":"Gateway trouble."})"));
    EXPECT_EQ(loadError(store), QStringLiteral("Gateway trouble."));
    EXPECT_FALSE(store.busy());

    // A web site that is not https falls back to the product's own.
    StoreHarness plain;
    AppStore& other = plain.signedInStore(
        {{QStringLiteral("VarnoWebsiteURL"), QStringLiteral("http://site.example")}});
    other.setDashboard(decodeJson<Dashboard>(dashboardJson({}, QStringLiteral("XY"))));
    EXPECT_EQ(other.referralURL()->toString(), QStringLiteral("https://varno.app/?r=XY"));
}

TEST(Friends, AnsweringRequests) {
    StoreHarness h;
    AppStore& store = h.signedInStore();
    const QByteArray ok = R"({"ok":true})";
    const QByteArray requests = R"([{"id":"r1","name":"Bo","incoming":true,"accepted":true}])";

    h.server.enqueue(ScriptedResponse::reply(200, ok));
    h.server.enqueue(ScriptedResponse::reply(200, dashboardJson({}, std::nullopt, requests)));
    awaitTask(store.updateFriend(QStringLiteral("r1"), true));
    h.server.enqueue(ScriptedResponse::reply(200, ok));
    h.server.enqueue(ScriptedResponse::reply(200, dashboardJson()));
    // An id can never reach another endpoint: it is one escaped path segment.
    awaitTask(store.updateFriend(QStringLiteral("../auth/logout?x=1"), false));

    const QList<RecordedRequest> sent = h.server.requests();
    ASSERT_EQ(sent.size(), 4);
    EXPECT_EQ(sent[0].method + ' ' + sent[0].path, "PATCH /api/friends/r1");
    EXPECT_EQ(sent[0].body, "{}");
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer tok-1");
    EXPECT_EQ(sent[1].method + ' ' + sent[1].pathWithoutQuery(), "GET /api/dashboard");
    EXPECT_EQ(sent[2].method + ' ' + sent[2].path,
              "DELETE /api/friends/..%2Fauth%2Flogout%3Fx%3D1");
    EXPECT_EQ(sent[2].body, "{}");
    EXPECT_EQ(store.error(), std::nullopt);
    EXPECT_FALSE(store.busy());

    // Ids made only of dots would be resolved away by URL normalisation: never sent.
    h.server.clearRequests();
    for (const QString& id : {QString(), QStringLiteral("."), QStringLiteral("..")}) {
        store.setError(std::nullopt);
        awaitTask(store.updateFriend(id, true));
        EXPECT_EQ(store.error(), QStringLiteral("Could not answer this friend request."));
    }
    EXPECT_EQ(h.server.requestCount(), 0);

    // A refusal by the server lands in error; the dashboard stays.
    const std::optional<Dashboard> before = store.dashboard();
    h.server.enqueue(ScriptedResponse::reply(409, R"({"error":"Already answered."})"));
    awaitTask(store.updateFriend(QStringLiteral("r1"), false));
    EXPECT_EQ(store.error(), QStringLiteral("Already answered."));
    EXPECT_EQ(store.dashboard(), before);
    EXPECT_EQ(h.server.requestCount(), 1);
    EXPECT_FALSE(store.busy());

    // mutate captures its event before the reload, and reports the reload's failure.
    h.server.clearRequests();
    h.server.enqueue(ScriptedResponse::reply(200, ok));
    h.server.enqueue(ScriptedResponse::reply(500, "oops", "text/plain"));
    EXPECT_FALSE(awaitTask(store.mutate(QStringLiteral("friends/r2"), "PATCH", QByteArray("{}"),
                                        Analytics::Event::referralLinkCopied)));
    EXPECT_EQ(h.telemetry.captures(), QStringList{"capture referral_link_copied"});
    EXPECT_EQ(h.telemetry.requestsSeenAtCapture, QList<int>{1});
    EXPECT_EQ(store.error(), ServerClient::unavailableMessage);
}
