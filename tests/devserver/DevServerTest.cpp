// SPDX-License-Identifier: MIT
#include "DevServerApi.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <zlib.h>

#include <atomic>
#include <thread>

using namespace varno::test;

namespace {
// The leaderboard as "id total", with " me" for the user and " synced" for those who uploaded.
QStringList boardOf(const QJsonObject& dashboard) {
    QStringList rows;
    for (const auto& value : dashboard.value("leaderboard").toArray()) {
        const auto e = value.toObject();
        rows << e.value("id").toString() + " " + QString::number(e.value("total").toInteger()) +
                    (e.value("isMe").toBool() ? " me" : "") +
                    (e.contains("syncedAt") ? " synced" : "");
    }
    return rows;
}

std::string gzip(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, uLong(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = uInt(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}
const httplib::Headers gzipped{{"Content-Encoding", "gzip"}};
} // namespace

TEST(DevServerDashboard, WindowCircleOrderRequestsAndTheirAnswers) {
    DevServerProcess server;
    DevServerApi api(server);
    for (const char* id : {"Mia", "bo", "Cal", "Cy", "Zed", "Ina", "Otto"})
        api.createUser(id, id);
    api.befriend("bo", "Mia", true);
    api.befriend("Mia", "Cal", true);
    api.befriend("Cy", "Mia", true); // never uploads
    api.befriend("Zed", "bo", true); // a friend of a friend is not on my board
    const QString fromIna = api.befriend("Ina", "Mia", false);
    const QString fromZed = api.befriend("Zed", "Mia", false);
    const QString toOtto = api.befriend("Mia", "Otto", false);
    const QString strangers = api.befriend("Otto", "Cy", false);
    const QString me = api.tokenFor("Mia");

    // The window is the 30 days ending on the requested day, summed over devices.
    api.upload(me, "d",
               {{"codex", "2026-01-31", 1000}, // 30 days before: outside
                {"codex", "2026-02-01", 10},
                {"claude", "2026-03-02", 2},
                {"codex", "2026-03-03", 999}}); // after the day: outside
    api.upload(me, "other device", {{"claude", "2026-03-02", 3}});
    api.upload(api.tokenFor("bo"), "d", {{"claude", "2026-02-15", 40}});
    api.upload(api.tokenFor("Cal"), "d", {{"codex", "2026-02-20", 40}});
    api.upload(api.tokenFor("Zed"), "d", {{"codex", "2026-02-20", 5000}});
    api.upload(api.tokenFor("Ina"), "d", {{"codex", "2026-02-20", 5000}});

    const auto dashboard = api.dashboard(me, "2026-03-02");
    EXPECT_EQ(dashboard.value("user").toObject().value("name").toString(), "Mia");
    // Ties on the total are broken by name, ignoring case.
    EXPECT_EQ(boardOf(dashboard),
              (QStringList{"bo 40 synced", "Cal 40 synced", "Mia 15 me synced", "Cy 0"}));
    const auto mine = api.entry(me, "2026-03-02", "Mia");
    EXPECT_EQ(mine.value("codex").toInteger(), 10);
    EXPECT_EQ(mine.value("claude").toInteger(), 5);
    EXPECT_TRUE(QDateTime::fromString(mine.value("syncedAt").toString(), Qt::ISODate).isValid());
    EXPECT_TRUE(dashboard.value("referralCode").isString());
    QStringList requests; // pending both ways, none accepted
    for (const auto& value : dashboard.value("requests").toArray()) {
        const auto r = value.toObject();
        requests << r.value("name").toString() + (r.value("incoming").toBool() ? " in" : " out") +
                        (r.value("accepted").toBool() ? " accepted" : "");
    }
    requests.sort();
    EXPECT_EQ(requests, (QStringList{"Ina in", "Otto out", "Zed in"}));
    // Accept, decline, cancel; accepting is only for the one the request was sent to.
    const auto answer = [&](const QString& call) { // "METHOD id"
        return api.call(call.section(' ', 0, 0).toStdString(),
                        "/api/friends/" + call.section(' ', 1).toStdString(), "{}", me);
    };
    EXPECT_EQ(answer("PATCH " + toOtto).status, 403);
    for (const QString& call : {"PATCH " + fromZed, "DELETE " + fromIna, "DELETE " + toOtto})
        EXPECT_TRUE(answer(call).json.value("ok").toBool()) << call.toStdString();
    const auto after = api.dashboard(me, "2026-03-02");
    EXPECT_EQ(boardOf(after), (QStringList{"Zed 5000 synced", "bo 40 synced", "Cal 40 synced",
                                           "Mia 15 me synced", "Cy 0"}));
    EXPECT_TRUE(after.value("requests").toArray().isEmpty());
    // Someone else's, unknown and already answered requests are not found.
    for (const QString& call : {"PATCH " + strangers, "DELETE " + strangers,
                                QString("PATCH unknown"), "DELETE " + fromIna}) {
        const auto refused = answer(call);
        EXPECT_EQ(refused.status, 404) << call.toStdString();
        EXPECT_FALSE(refused.error().isEmpty()) << call.toStdString();
    }
    EXPECT_EQ(api.dashboard(api.tokenFor("Cy"), "2026-03-02").value("requests").toArray().size(),
              1);
}

TEST(DevServerUsage, ConcurrentDevicesAddUpAndEachKeepsItsNewestValues) {
    DevServerProcess server;
    DevServerApi setup(server);
    setup.createUser("me", "Me");
    const QString token = setup.tokenFor("me");

    constexpr int devices = 8, uploadsEach = 12;
    std::atomic<int> failures{0};
    {
        std::vector<std::jthread> workers; // joined at the end of the block
        for (int d = 0; d < devices; ++d)
            workers.emplace_back([&, d] {
                DevServerApi api(server);
                for (int u = 0; u < uploadsEach; ++u) {
                    // Each upload adds a new day of its own device and rewrites an old one.
                    const std::vector<DevServerApi::Row> rows{
                        {"codex", QDate(2026, 2, 1).addDays(u).toString(Qt::ISODate), 1000 + d},
                        {"claude", "2026-02-01", u + 1}};
                    failures += api.upload(token, QString("device-%1").arg(d), rows).status != 200;
                }
            });
    }
    EXPECT_EQ(failures.load(), 0);

    const auto me = setup.entry(token, "2026-03-01", "me");
    const qint64 codex = uploadsEach * (devices * 1000 + devices * (devices - 1) / 2);
    EXPECT_EQ(me.value("codex").toInteger(), codex);
    // Each device's last reading of the rewritten day counts once, summed over devices.
    EXPECT_EQ(me.value("claude").toInteger(), qint64(devices) * uploadsEach);
    EXPECT_EQ(me.value("total").toInteger(), codex + devices * uploadsEach);
}

TEST(DevServerUsage, KeepsEachDaysLatestReadingWhateverOrderTheUploadsArriveIn) {
    QTemporaryDir dir;
    DevServerProcess server(DevServerProcess::Seed::none, {"--db", dir.filePath("varno.db")});
    DevServerApi api(server);
    api.createUser("me", "Me");
    const QString token = api.tokenFor("me");
    const auto codex = [&] { return api.entry(token, "2026-03-01", "me").value("codex"); };
    const auto upload = [&](const char* device, qint64 tokens, const char* collectedAt,
                            std::vector<DevServerApi::Row> more = {}) {
        more.push_back({"codex", "2026-03-01", tokens});
        ASSERT_EQ(api.upload(token, device, more, collectedAt).status, 200);
    };
    const struct {
        const char* device;
        qint64 tokens;
        const char* collectedAt; // in the zones and forms clients may send
        qint64 expected;         // the day's total over both devices afterwards
    } steps[] = {
        {"laptop", 10, "2026-03-01T12:00:00Z", 10},
        {"laptop", 3, "2026-03-01T11:59:59Z", 10},       // late, older: ignored
        {"laptop", 4, "2026-03-01T13:59:00+02:00", 10},  // 11:59 UTC: older still
        {"desktop", 7, "2026-03-01T08:00:00Z", 17},      // another device adds up
        {"laptop", 12, "2026-03-01T12:00:00Z", 19},      // same time: the later arrival
        {"laptop", 11, "2026-03-01T07:00:01-05:00", 18}, // 12:00:01 UTC: newer
        {"desktop", 2, "2026-03-01T07:59:00Z", 18},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(QString("%1 %2 at %3")
                         .arg(step.device)
                         .arg(step.tokens)
                         .arg(step.collectedAt)
                         .toStdString());
        upload(step.device, step.tokens, step.collectedAt);
        EXPECT_EQ(codex().toInteger(), step.expected);
    }

    // A late upload still fills the days the newer one did not list, and the kept
    // readings survive a restart on the same file.
    upload("laptop", 1, "2026-03-01T00:00:00Z", {{"codex", "2026-02-27", 5}});
    EXPECT_EQ(codex().toInteger(), 18 + 5);
    server.stop();
    DevServerProcess again(DevServerProcess::Seed::none, {"--db", dir.filePath("varno.db")});
    DevServerApi reopened(again);
    EXPECT_EQ(reopened.entry(token, "2026-03-01", "me").value("codex").toInteger(), 18 + 5);
}

TEST(DevServerUsage, OpensADatabaseWrittenBeforeReadingTimesWereKept) {
    QTemporaryDir dir;
    const QByteArray file = QFile::encodeName(dir.filePath("old.db"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.constData(), &db), SQLITE_OK);
    const char* old = R"sql(
        CREATE TABLE users (id TEXT PRIMARY KEY, name TEXT NOT NULL, email TEXT NOT NULL,
            avatar_url TEXT, referral_code TEXT, created_at TEXT NOT NULL);
        CREATE TABLE devices (user_id TEXT NOT NULL REFERENCES users(id), device_id TEXT NOT NULL,
            collected_at TEXT NOT NULL, synced_at TEXT NOT NULL, PRIMARY KEY (user_id, device_id));
        CREATE TABLE daily_usage (user_id TEXT NOT NULL, device_id TEXT NOT NULL,
            provider TEXT NOT NULL, day TEXT NOT NULL, total_tokens INTEGER NOT NULL,
            PRIMARY KEY (user_id, device_id, provider, day),
            FOREIGN KEY (user_id, device_id) REFERENCES devices(user_id, device_id));
        INSERT INTO users VALUES ('me', 'Me', 'me@example.com', NULL, NULL, '2026-01-01T00:00:00Z');
        INSERT INTO devices VALUES ('me', 'laptop', '2026-03-01T12:00:00Z', '2026-03-01T12:00:00Z');
        INSERT INTO daily_usage VALUES ('me', 'laptop', 'codex', '2026-03-01', 10);
        INSERT INTO daily_usage VALUES ('me', 'laptop', 'codex', '2026-02-28', 6);
    )sql";
    ASSERT_EQ(sqlite3_exec(db, old, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);

    DevServerProcess server(DevServerProcess::Seed::none, {"--db", dir.filePath("old.db")});
    DevServerApi api(server);
    const QString token = api.tokenFor("me");
    EXPECT_EQ(api.entry(token, "2026-03-01", "me").value("codex").toInteger(), 16);
    // A reading of unknown age gives way to any new one.
    ASSERT_EQ(
        api.upload(token, "laptop", {{"codex", "2026-03-01", 3}}, "2020-01-01T00:00:00Z").status,
        200);
    EXPECT_EQ(api.entry(token, "2026-03-01", "me").value("codex").toInteger(), 9);
}

TEST(DevServerRobustness, RefusalsNameTheProblemAndNeverBreakTheServer) {
    DevServerProcess server;
    DevServerApi api(server);
    api.createUser("me", "Me");
    const QString token = api.tokenFor("me");

    const std::string head = R"({"deviceId":"d","collectedAt":"2026-03-01T12:00:00Z","daily":[)";
    const auto row = [&](const std::string& fields) { return head + "{" + fields + "}]}"; };
    const auto rows = [&](int count) {
        const QString one = R"({"provider":"codex","date":"2026-01-01","totalTokens":1})";
        return head + QStringList(count, one).join(',').toStdString() + "]}";
    };
    const struct {
        std::string body, named; // a word the error sentence must contain
        int status = 400;
        std::string method = "POST", path = "/api/usage";
        httplib::Headers headers = {};
    } cases[] = {
        {"not json", "JSON"},
        {R"({"collectedAt":"2026-03-01T12:00:00Z","daily":[]})", "deviceId"},
        {R"({"deviceId":7,"collectedAt":"2026-03-01T12:00:00Z","daily":[]})", "deviceId"},
        {R"({"deviceId":"d","collectedAt":"2026-03-01T12:00:00","daily":[]})", "collectedAt"},
        {R"({"deviceId":"d","collectedAt":"2026-03-01T12:00:00Z","daily":{}})", "daily"},
        {head + "3]}", "daily[0]"},
        {row(R"("provider":"gemini","date":"2026-03-01","totalTokens":1)"), "provider"},
        {row(R"("provider":"codex","date":"2026-02-30","totalTokens":1)"), "date"},
        {row(R"("provider":"codex","date":20260301,"totalTokens":1)"), "date"},
        {row(R"("provider":"codex","date":"2026-03-01","totalTokens":-1)"), "totalTokens"},
        {row(R"("provider":"codex","date":"2026-03-01","totalTokens":1.5)"), "totalTokens"},
        {row(R"("provider":"codex","date":"2026-03-01","totalTokens":1000000000001)"),
         "totalTokens"},
        {row(R"("provider":"codex","date":"2026-03-01")"), "totalTokens"},
        {rows(401), "400"},
        {rows(2), "daily[1]"}, // the same provider and day twice
        {std::string("\xff\xfe{}", 4), ""},
        {std::string(100000, '['), ""},
        {std::string(5 << 20, ' '), "", 413},
        {R"({"code":1,"verifier":[]})", "", 400, "POST", "/api/auth/exchange"},
        {R"({"api_key":"k","batch":[1],"sent_at":"t"})", "", 400, "POST", "/batch"},
        {R"({"batch":[],"sent_at":"t"})", "", 400, "POST", "/batch"},
        {"plain", "", 400, "POST", "/batch", gzipped},
        {gzip(std::string(64 << 20, ' ')), "", 413, "POST", "/batch", gzipped}, // inflates too far
        {"{}", "", 405, "PUT"},
        {"{}", "", 405, "DELETE", "/api/dashboard"},
        {"", "", 400, "GET", "/api/dashboard?date=2026-02-30"},
        {"", "", 404, "GET", "/api/unknown"},
    };
    for (const auto& c : cases) {
        const auto answer = api.call(c.method, c.path, c.body, token, c.headers);
        const std::string what = c.method + " " + c.path + " " + c.body.substr(0, 100);
        EXPECT_EQ(answer.status, c.status) << what;
        EXPECT_FALSE(answer.error().isEmpty()) << what << " -> " << answer.body.substr(0, 100);
        EXPECT_TRUE(answer.error().contains(QString::fromStdString(c.named)))
            << what << " -> " << answer.error().toStdString();
    }
    // Nothing refused was kept; the limits themselves are accepted, and the server goes on.
    EXPECT_FALSE(api.entry(token, "2026-03-01", "me").contains("syncedAt"));
    std::vector<DevServerApi::Row> most{{"claude", "2026-03-01", 1'000'000'000'000}};
    for (int i = 1; i < 400; ++i)
        most.push_back({"codex", QDate(2025, 1, 1).addDays(i).toString(Qt::ISODate), 1});
    EXPECT_EQ(api.upload(token, "d", most).status, 200);
    EXPECT_EQ(api.entry(token, "2026-03-01", "me").value("claude").toInteger(), 1'000'000'000'000);
    EXPECT_TRUE(server.isRunning());
}

TEST(DevServerAnalytics, SinkKeepsGzipAndPlainBatchesInOrder) {
    DevServerProcess server;
    DevServerApi api(server);
    const auto batch = [](const std::string& key, const std::string& events) {
        return R"({"sent_at":"2026-03-01T12:00:00.123Z","api_key":")" + key + R"(","batch":[)" +
               events + "]}";
    };
    const std::string launched = R"({"event":"launched","properties":{"n":1}})";
    // The last one is compressed without saying so.
    for (const auto& [body, headers] : std::vector<std::pair<std::string, httplib::Headers>>{
             {gzip(batch("k1", launched + R"(,{"event":"synced"})")), gzipped},
             {batch("k2", R"({"event":"third"})"), {}},
             {gzip(batch("k3", R"({"event":"fourth"})")), {}}})
        EXPECT_EQ(api.call("POST", "/batch", body, {}, headers).status, 200);
    QStringList received; // event, properties, key, gzipped; all with the batch's sent_at
    for (const auto& value :
         api.call("GET", "/dev/analytics/events").json.value("events").toArray()) {
        const auto entry = value.toObject();
        const auto event = entry.value("event").toObject();
        const auto properties = QJsonDocument(event.value("properties").toObject());
        received << QString("%1 %2 %3 %4")
                        .arg(event.value("event").toString(),
                             properties.toJson(QJsonDocument::Compact),
                             entry.value("apiKey").toString())
                        .arg(entry.value("gzipped").toBool());
        EXPECT_EQ(entry.value("sentAt").toString(), "2026-03-01T12:00:00.123Z");
    }
    EXPECT_EQ(received, (QStringList{R"(launched {"n":1} k1 1)", "synced {} k1 1", "third {} k2 0",
                                     "fourth {} k3 1"}));
    for (const auto& answer :
         {api.call("GET", "/array/phc_token/config"),
          api.call("POST", "/flags?v=2", R"({"api_key":"k","distinct_id":"x"})")}) {
        EXPECT_EQ(answer.status, 200);
        EXPECT_FALSE(answer.json.isEmpty());
    }
}
