// SPDX-License-Identifier: MIT
#include "StoreHarness.h"

#include <limits>

namespace {

QStringList visible(const AppStore& store) {
    QStringList ids;
    for (const LeaderboardEntry& e : store.visibleLeaderboard())
        ids << e.id;
    return ids;
}

} // namespace

TEST(Friends, HidingIsPerAccountSortedAndSurvivesARestart) {
    StoreHarness h;
    // One key per account: the address without trailing slashes, a line feed, the
    // user id. The own id may sit in a list; the own row shows all the same.
    const QString key = h.serverBase() + QStringLiteral("\nu-alice");
    settings::writeHiddenFriends(*h.settings, {{key, {"u-alice"}}});
    AppStore& store = h.signedInStore();
    store.setDashboard(dashboard({"b", "a"}));
    QSignalSpy changed(&store, &AppStore::hiddenFriendsChanged);
    for (const QString id : {"b", "a", "a", "u-alice"})
        store.setFriendHidden(id, true);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(visible(store), QStringList{"u-alice"});

    // A fresh store on the same settings file, as after a restart.
    h.settings = std::make_unique<QSettings>(h.settings->fileName(), QSettings::IniFormat);
    AppStore& restarted = h.makeStore();
    EXPECT_EQ(restarted.hiddenFriendsByAccount(),
              (QMap<QString, QStringList>{{key, {"a", "b", "u-alice"}}}));
    restarted.setSession(SavedSession{"t", alice(), h.serverBase() + "//  "});
    restarted.setDashboard(dashboard({"b", "c", "a"}));
    EXPECT_EQ(visible(restarted), (QStringList{"u-alice", "c"}));
    restarted.setFriendHidden("a", false);
    EXPECT_EQ(settings::readHiddenFriends(*h.settings),
              (QMap<QString, QStringList>{{key, {"b", "u-alice"}}}));

    // Another server, or signed out: nobody is hidden, and nothing can be.
    restarted.setSession(SavedSession{"t", alice(), "https://other"});
    EXPECT_FALSE(restarted.isFriendHidden("b"));
    restarted.setSession(std::nullopt);
    restarted.setFriendHidden("c", true);
    EXPECT_EQ(visible(restarted).size(), 4);
    EXPECT_EQ(settings::readHiddenFriends(*h.settings).size(), 1);
}

// A negative total is no count: such rows rank after every count, in the server's
// order among themselves, and a hidden one stays hidden.
TEST(Friends, RowsWhoseTotalIsNoCountRankLast) {
    StoreHarness h;
    AppStore& store = h.signedInStore();
    Dashboard board = dashboard({"a", "b", "c", "d", "e"});
    board.leaderboard[0].total = -1; // the user's own row moves too
    board.leaderboard[1].total = std::numeric_limits<qint64>::min();
    board.leaderboard[3].total = -5;
    board.leaderboard[4].total = -7;
    store.setDashboard(board);
    store.setFriendHidden("d", true);
    EXPECT_EQ(visible(store), (QStringList{"b", "e", "u-alice", "a", "c"}));
}

TEST(Friends, InviteLinks) {
    const QString signIn = QStringLiteral("Sign in to Varno and try again.");
    const auto loadError = [](AppStore& store) -> QString {
        try {
            awaitTask(store.loadReferralURL());
            return {};
        } catch (const AppError& e) {
            return e.message();
        }
    };
    StoreHarness h;
    AppStore& store = h.signedInStore({{"VarnoWebsiteURL", "https://site.example/path?x=1#f"}});
    // Characters that would change a query's meaning are escaped.
    store.setDashboard(dashboard({}, "a&b=c+d #é"));
    EXPECT_EQ(store.referralURL()->toString(QUrl::FullyEncoded),
              "https://site.example/?r=a%26b%3Dc%2Bd%20%23%C3%A9");
    // With a code at hand, no request, even while busy.
    store.setBusy(true);
    EXPECT_EQ(awaitTask(store.loadReferralURL()), *store.referralURL());

    // No code and busy, or signed out: refused, nothing sent.
    store.setDashboard(dashboard());
    EXPECT_EQ(loadError(store), signIn);
    store.setBusy(false);
    store.setSession(std::nullopt);
    EXPECT_EQ(loadError(store), signIn);
    EXPECT_EQ(h.server.requestCount(), 0);

    // No code: one reload, holding busy; the new dashboard is kept either way.
    store.setSession(h.session);
    QSignalSpy busy(&store, &AppStore::busyChanged);
    h.server.enqueue(reply(200, dashboardJson({"n"})));
    EXPECT_EQ(loadError(store), "Invite links are not available on this server yet.");
    EXPECT_EQ(sent(h.server), QStringList{dashboardToday});
    EXPECT_EQ(busy.count(), 2);
    EXPECT_EQ(store.dashboard(), dashboard({"n"}));
    h.server.enqueue(reply(200, dashboardJson({}, "XY")));
    EXPECT_EQ(awaitTask(store.loadReferralURL()).toString(), "https://site.example/?r=XY");

    // A failing reload throws its own error and lets go of busy.
    store.setDashboard(dashboard());
    h.server.enqueue(reply(502, R"({"error":"Gateway trouble."})"));
    EXPECT_EQ(loadError(store), "Gateway trouble.");
    EXPECT_FALSE(store.busy());

    // A web site that is not https falls back to the product's own.
    StoreHarness plain;
    AppStore& other = plain.signedInStore({{"VarnoWebsiteURL", "http://site.example"}});
    other.setDashboard(dashboard({}, "XY"));
    EXPECT_EQ(other.referralURL()->toString(), "https://varno.app/?r=XY");
}

TEST(Friends, AnsweringRequests) {
    StoreHarness h;
    AppStore& store = h.signedInStore();
    h.server.setHandler([](const RecordedRequest& r) {
        return r.method == "GET" ? reply(200, dashboardJson({"n"})) : okAnswer;
    });
    awaitTask(store.updateFriend("r1", true));
    EXPECT_EQ(store.dashboard(), dashboard({"n"}));
    // An id can never reach another endpoint: it is one escaped path segment.
    awaitTask(store.updateFriend("../auth/logout?x=1", false));
    EXPECT_EQ(sent(h.server),
              (QStringList{"PATCH /api/friends/r1", dashboardToday,
                           "DELETE /api/friends/..%2Fauth%2Flogout%3Fx%3D1", dashboardToday}));
    EXPECT_EQ(h.server.requests().at(2).body, "{}");
    EXPECT_EQ(store.error(), std::nullopt);

    // Ids made only of dots would be resolved away by URL normalisation: never sent.
    h.server.clearRequests();
    for (const QString id : {"", ".", ".."}) {
        store.setError(std::nullopt);
        awaitTask(store.updateFriend(id, true));
        EXPECT_EQ(store.error(), "Could not answer this friend request.");
    }
    EXPECT_EQ(h.server.requestCount(), 0);
}
