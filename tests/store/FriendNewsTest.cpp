// SPDX-License-Identifier: MIT
#include "StoreHarness.h"

#include "store/FriendNews.h"
#include "store/FriendNewsWatcher.h"

namespace {

const QString account = QStringLiteral("https://varno.example\nme");
const QString today = QStringLiteral("2026-12-05");

// "*me:1200000" is the user's own row, "ann:2500000" a friend; names are the ids
// with a capital letter.
LeaderboardEntry row(const QString& text) {
    const bool isMe = text.startsWith('*');
    const QString id = text.mid(isMe ? 1 : 0).section(':', 0, 0);
    const qint64 total = text.section(':', 1).toLongLong();
    return {id, id.left(1).toUpper() + id.mid(1), isMe, total, 0, total, "t", std::nullopt};
}

// "r1:ann:in", "r2:bob:out", "r3:cy:in:accepted".
FriendRequest request(const QString& text) {
    const QStringList parts = text.split(':');
    const QString name = parts[1].left(1).toUpper() + parts[1].mid(1);
    return {parts[0], name, parts[2] == "in", parts.size() > 3};
}

struct Row {
    const char* what;
    QStringList board;
    QStringList requests;
    SeenFriendNews seen;
    QStringList notices; // "title | body"
    SeenFriendNews expected;
    std::optional<QString> previousAccount = account;
    QStringList hidden = {};
    bool enabled = true;
};

QStringList texts(const QList<FriendNotice>& notices) {
    QStringList out;
    // Names arrive isolated; brackets show where.
    const auto shown = [](QString text) {
        return text.replace(QChar(0x2068), '[').replace(QChar(0x2069), ']');
    };
    for (const FriendNotice& n : notices)
        out << shown(n.title + " | " + n.body) +
                   (n.kind == FriendNotice::Kind::friendRequest ? " (request)" : " (pass)");
    return out;
}

} // namespace

TEST(FriendNews, WhatEachLoadAnnounces) {
    const QStringList board{"*me:1200000", "cy:900000", "dan:10"};
    const SeenFriendNews below{{}, {"cy", "dan"}, {}};
    // what, board, requests, seen before, notices, seen after[, previous account, hidden,
    // enabled]
    const Row rows[] = {
        // clang-format off
        {"first load after a start only records", {"cy:2500000", "*me:1200000", "dan:10"},
         {"r1:ann:in", "r2:bob:out"}, below, {}, {{"r1"}, {"dan"}, {}}, std::nullopt},
        {"first load after switching accounts only records", {"cy:2500000", "*me:1200000"},
         {"r1:ann:in"}, below, {}, {{"r1"}, {}, {}},
         QStringLiteral("https://varno.example\nsomeone-else")},
        {"a new incoming request; sent and accepted ones never notify", board,
         {"r2:bob:out", "r1:ann:in", "r3:cy:in:accepted", "r1:ann:in"}, below,
         {"New friend request | [Ann] (request)"}, {{"r1"}, {"cy", "dan"}, {}}},
        {"a request seen before stays quiet; answered ones are forgotten", board, {"r1:ann:in"},
         {{"r1", "r0"}, {"cy", "dan"}, {}}, {}, {{"r1"}, {"cy", "dan"}, {}}},
        {"a friend below at the last load and above now passed you",
         {"cy:2500000", "*me:1234567", "dan:10"}, {}, below,
         {"[Cy] passed you | 2.5M tokens vs your 1.23M (pass)"}, {{}, {"dan"}, {{"cy", today}}}},
        {"a friend who was never below (new, or above already) did not pass",
         {"eve:5000", "cy:2500000", "*me:1200000"}, {}, {{}, {"dan"}, {}}, {}, {}},
        {"a tie the server orders the other way is no pass", {"cy:1200000", "*me:1200000"}, {},
         below, {}, {}},
        {"hidden friends never notify", {"cy:2500000", "*me:1200000"}, {}, below, {}, {}, account,
         {"cy"}},
        {"once per friend per local day; yesterday's pass does not count",
         {"cy:2500000", "dan:2000000", "*me:1200000"}, {},
         {{}, {"cy", "dan"}, {{"cy", today}, {"dan", "2026-12-04"}, {"gone", today}}},
         {"[Dan] passed you | 2M tokens vs your 1.2M (pass)"},
         {{}, {}, {{"cy", today}, {"dan", today}}}},
        {"today's pass is kept while the friend is below again", board, {},
         {{}, {"dan"}, {{"cy", today}}}, {}, {{}, {"cy", "dan"}, {{"cy", today}}}},
        {"turned off: records everything, announces and marks nothing",
         {"cy:2500000", "*me:1200000"}, {"r1:ann:in"}, below, {}, {{"r1"}, {}, {}}, account, {},
         false},
        {"without the user's own row nobody is ranked against them", {"cy:2500000", "dan:10"}, {},
         below, {}, {}},
        // A negative total is no count: it ranks last and passes nobody.
        {"a friend whose total is no count is below, whatever the server's order",
         {"cy:-5", "*me:1200000", "dan:10"}, {}, below, {}, {{}, {"dan", "cy"}, {}}},
        {"with no count of your own, a friend with one who was below passed you",
         {"*me:-9", "cy:100", "dan:-1"}, {}, below,
         {"[Cy] passed you | 100 tokens vs your — (pass)"}, {{}, {"dan"}, {{"cy", today}}}},
        {"many at once become one summary per kind", {"a:9", "b:9", "c:9", "d:9", "*me:1", "e:0"},
         {"r1:ann:in", "r2:bob:in", "r3:cy:in", "r4:dan:in", "r5:eve:in"},
         {{"r5"}, {"a", "b", "c", "d"}, {}},
         {"New friend requests | [Ann], [Bob] and 2 more (request)",
          "4 friends passed you | [A], [B] and 2 more (pass)"},
         {{"r1", "r2", "r3", "r4", "r5"}, {"e"},
          {{"a", today}, {"b", today}, {"c", today}, {"d", today}}}},
        // clang-format on
    };
    for (const Row& r : rows) {
        FriendNews::Input input;
        input.account = account;
        input.previousAccount = r.previousAccount;
        input.seen = r.seen;
        for (const QString& text : r.board)
            input.dashboard.leaderboard << row(text);
        for (const QString& text : r.requests)
            input.dashboard.requests << request(text);
        input.hidden = r.hidden;
        input.today = today;
        input.enabled = r.enabled;
        const FriendNews::Result result = FriendNews::decide(input);
        EXPECT_EQ(texts(result.notices), r.notices) << r.what;
        EXPECT_EQ(result.seen.requests, r.expected.requests) << r.what;
        EXPECT_EQ(result.seen.below, r.expected.below) << r.what;
        EXPECT_EQ(result.seen.passed, r.expected.passed) << r.what;
    }
}

TEST(FriendNews, ANameWithNothingShowableIsSomeone) {
    EXPECT_EQ(FriendNews::displayName(QString::fromUtf8("\n\u200F")), "Someone");
}

TEST(FriendNews, TheRecordIsReadBackOnlyInItsOwnShape) {
    const SeenFriendNews seen{{"r1"}, {"a", "b"}, {{"a", today}}};
    EXPECT_EQ(SeenFriendNews::fromVariant(seen.toVariant()), seen);
    QVariantMap bad = seen.toVariant();
    bad.insert("below", QVariantList{"a", 3});
    EXPECT_EQ(SeenFriendNews::fromVariant(bad), std::nullopt);
    bad = seen.toVariant();
    bad.insert("passed", QVariantMap{{"a", 20261205}});
    EXPECT_EQ(SeenFriendNews::fromVariant(bad), std::nullopt);
    bad = seen.toVariant();
    bad.remove("requests");
    EXPECT_EQ(SeenFriendNews::fromVariant(bad), std::nullopt);
    EXPECT_EQ(SeenFriendNews::fromVariant(QStringList{"r1"}), std::nullopt);
}

// The watcher on a real store: loads from the scripted server, the record in a real
// settings file, restarts as a new store and watcher on the same file.
TEST(FriendNews, LoadsAnnounceOnceAndARestartOrSignOutRepeatsNothing) {
    StoreHarness h;
    QByteArray answer;
    h.server.setHandler([&](const RecordedRequest&) { return reply(200, answer); });
    const auto board = [](QList<LeaderboardEntry> rows, QList<FriendRequest> requests = {}) {
        return Dashboard{alice(), std::move(rows), std::move(requests), std::nullopt}.toJson();
    };
    const LeaderboardEntry me{"u-alice", "Alice", true, 0, 0, 1000, "t"};
    const auto bob = [](qint64 total) {
        return LeaderboardEntry{"u-bob", "Bob", false, 0, 0, total, "t"};
    };
    const FriendRequest cyAsks{"q1", "Cy", true, false};

    QStringList shown;
    std::unique_ptr<FriendNewsWatcher> watcher;
    const auto start = [&] {
        watcher.reset();
        h.settings = std::make_unique<QSettings>(h.settings->fileName(), QSettings::IniFormat);
        settings::upgradeStoredMaps(*h.settings); // as every start does
        h.signedInStore();
        watcher = std::make_unique<FriendNewsWatcher>(
            h.store.get(), h.settings.get(),
            FriendNewsWatcher::Clock{[&h] { return h.clock; }, [] { return QTimeZone(Qt::UTC); }});
        QObject::connect(watcher.get(), &FriendNewsWatcher::notice, [&](const FriendNotice& n) {
            // The isolates around names are the table test's concern.
            shown << QString(n.title + " | " + n.body).remove(QChar(0x2068)).remove(QChar(0x2069));
        });
    };
    const auto load = [&](const QByteArray& body) {
        answer = body;
        awaitTask(h.store->refresh(false));
        EXPECT_EQ(h.store->error(), std::nullopt);
    };

    start();
    load(board({me, bob(500)}));
    load(board({bob(2000), me}, {cyAsks}));
    EXPECT_EQ(shown,
              (QStringList{"New friend request | Cy", "Bob passed you | 2K tokens vs your 1K"}));
    load(board({bob(2000), me}, {cyAsks}));
    EXPECT_EQ(shown.size(), 2) << "the same dashboard again";
    const QString key = h.serverBase() + "\nu-alice";
    EXPECT_EQ(settings::readFriendNewsByAccount(*h.settings).keys(), QStringList{key});

    // A restart, from the record as an older Varno stored it (a binary map): its first
    // load only records, and Bob's pass today is remembered.
    shown.clear();
    h.settings->setValue("friendNewsByAccount", settings::readFriendNewsByAccount(*h.settings));
    start();
    load(board({me, bob(900)}));
    load(board({bob(3000), me}, {cyAsks}));
    EXPECT_EQ(shown, QStringList{"New friend request | Cy"});

    // Sign-out keeps the record; the first load after signing in again only records.
    shown.clear();
    awaitTask(h.store->logout());
    EXPECT_TRUE(settings::readFriendNewsByAccount(*h.settings).contains(key));
    h.store->setSession(h.session);
    load(board({bob(3000), me}, {FriendRequest{"q2", "Di", true, false}}));
    EXPECT_TRUE(shown.isEmpty());

    // Turned off (and remembered so), nothing shows; turned on again, no burst.
    watcher->setEnabled(false);
    start();
    EXPECT_FALSE(watcher->enabled());
    load(board({me}));
    load(board({me}, {cyAsks}));
    EXPECT_TRUE(shown.isEmpty());
    watcher->setEnabled(true);
    load(board({me}, {cyAsks}));
    EXPECT_TRUE(shown.isEmpty());
    h.clock = h.clock.addDays(1);
    load(board({me, bob(10)}));
    load(board({bob(5000), me}));
    EXPECT_EQ(shown, QStringList{"Bob passed you | 5K tokens vs your 1K"});

    // A long dashboard is read, compared and written on a worker; the friends below
    // are kept as a set (sorted), whatever their order.
    shown.clear();
    h.clock = h.clock.addDays(1);
    QList<LeaderboardEntry> many;
    for (int i = FriendNewsWatcher::inlineRows; i > 0; --i)
        many << LeaderboardEntry{"f" + QString::number(i), "F", false, 0, 0, 1, "t"};
    const auto decided = [&] { return !watcher->isDeciding(); };
    load(board(QList<LeaderboardEntry>{me, bob(10)} + many));
    ASSERT_TRUE(waitUntil(decided));
    load(board(QList<LeaderboardEntry>{bob(5000), me} + many));
    ASSERT_TRUE(waitUntil(decided));
    EXPECT_EQ(shown, QStringList{"Bob passed you | 5K tokens vs your 1K"});
    const QStringList below =
        SeenFriendNews::fromVariant(settings::readFriendNewsByAccount(*h.settings).value(key))
            .value_or(SeenFriendNews{})
            .below;
    EXPECT_EQ(below.size(), FriendNewsWatcher::inlineRows);
    EXPECT_TRUE(std::is_sorted(below.begin(), below.end()));
}

TEST(FriendNews, AStoredRecordOfAnotherShapeIsReplaced) {
    StoreHarness h;
    h.settings->setValue("friendNewsByAccount", QVariantMap{{"x\ny", "not a record"}});
    h.settings->setValue("notificationsEnabled", "maybe");
    h.server.setHandler([](const RecordedRequest&) { return reply(200, dashboardJson({"b"})); });
    AppStore& store = h.signedInStore();
    FriendNewsWatcher watcher(&store, h.settings.get());
    EXPECT_TRUE(watcher.enabled());
    awaitTask(store.refresh(false));
    const QVariantMap records = settings::readFriendNewsByAccount(*h.settings);
    ASSERT_EQ(records.keys(), QStringList{h.serverBase() + "\nu-alice"});
    EXPECT_EQ(SeenFriendNews::fromVariant(records.first()), (SeenFriendNews{{}, {"b"}, {}}));
}
