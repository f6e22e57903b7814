#include "DevServerApi.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

using namespace varno::test;

namespace {
QJsonObject entryFor(const QJsonObject& dashboard, const QString& id) {
    for (const auto& entry : dashboard.value("leaderboard").toArray())
        if (entry.toObject().value("id").toString() == id)
            return entry.toObject();
    return {};
}

QStringList idsOf(const QJsonArray& rows) {
    QStringList ids;
    for (const auto& row : rows)
        ids << row.toObject().value("id").toString();
    return ids;
}

std::string rowsJson(int count) {
    std::string rows;
    for (int i = 0; i < count; ++i)
        rows += std::string(i ? "," : "") +
                R"({"provider":"codex","date":"2026-01-01","totalTokens":1})";
    return rows;
}
} // namespace

TEST(DevServerUsage, RefusesMalformedUploadsNamingTheProblem) {
    DevServerProcess server;
    DevServerApi api(server);
    api.createUser("me", "Me");
    const QString token = api.tokenFor("me");

    const std::string head = R"({"deviceId":"d","collectedAt":"2026-03-01T12:00:00Z","daily":[)";
    const auto row = [&](const std::string& fields) { return head + "{" + fields + "}]}"; };
    const struct {
        std::string body;
        const char* named;
    } cases[] = {
        {"not json", "JSON"},
        {"[]", "object"},
        {R"({"collectedAt":"2026-03-01T12:00:00Z","daily":[]})", "deviceId"},
        {R"({"deviceId":7,"collectedAt":"2026-03-01T12:00:00Z","daily":[]})", "deviceId"},
        {R"({"deviceId":"d","collectedAt":"yesterday","daily":[]})", "collectedAt"},
        {R"({"deviceId":"d","collectedAt":"2026-03-01T12:00:00","daily":[]})", "collectedAt"},
        {R"({"deviceId":"d","collectedAt":"2026-03-01T12:00:00Z","daily":{}})", "daily"},
        {head + "3]}", "daily[0]"},
        {row(R"("provider":"gemini","date":"2026-03-01","totalTokens":1)"), "provider"},
        {row(R"("provider":"Codex","date":"2026-03-01","totalTokens":1)"), "provider"},
        {row(R"("provider":"codex","date":"2026-02-30","totalTokens":1)"), "date"},
        {row(R"("provider":"codex","date":"2026-3-01","totalTokens":1)"), "date"},
        {row(R"("provider":"codex","date":20260301,"totalTokens":1)"), "date"},
        {row(R"("provider":"codex","date":"2026-03-01","totalTokens":-1)"), "totalTokens"},
        {row(R"("provider":"codex","date":"2026-03-01","totalTokens":1.5)"), "totalTokens"},
        {row(R"("provider":"codex","date":"2026-03-01","totalTokens":"5")"), "totalTokens"},
        {row(R"("provider":"codex","date":"2026-03-01","totalTokens":1000000000001)"),
         "totalTokens"},
        {row(R"("provider":"codex","date":"2026-03-01")"), "totalTokens"},
        {head + rowsJson(401) + "]}", "400"},
        {head + rowsJson(2) + "]}", "daily[1]"}, // the same provider and day twice
    };
    for (const auto& c : cases) {
        const auto answer = api.send("POST", "/api/usage", c.body, token);
        EXPECT_EQ(answer.status, 400) << c.body.substr(0, 120);
        EXPECT_TRUE(answer.error().contains(c.named))
            << c.body.substr(0, 120) << " -> " << answer.error().toStdString();
    }

    // Nothing of the refused uploads was kept, and the limits themselves are accepted.
    EXPECT_FALSE(entryFor(api.dashboard(token, "2026-03-01"), "me").contains("syncedAt"));
    EXPECT_EQ(
        api.send("POST", "/api/usage",
                 row(R"("provider":"claude","date":"2026-03-01","totalTokens":1000000000000)"),
                 token)
            .status,
        200);
    std::vector<DevServerApi::Row> many;
    for (int i = 0; i < 400; ++i)
        many.push_back({i % 2 ? "codex" : "claude",
                        QDate(2025, 1, 1).addDays(i / 2).toString(Qt::ISODate), 1});
    EXPECT_EQ(api.upload(token, "d2", many).status, 200);
    EXPECT_EQ(entryFor(api.dashboard(token, "2026-03-01"), "me").value("claude").toInteger(),
              1000000000000);
}

TEST(DevServerUsage, DevicesAddUpAndEachDeviceKeepsItsNewestValues) {
    DevServerProcess server;
    DevServerApi api(server);
    api.createUser("me", "Me");
    const QString token = api.tokenFor("me");

    ASSERT_EQ(
        api.upload(token, "laptop", {{"codex", "2026-03-01", 100}, {"claude", "2026-03-01", 7}})
            .status,
        200);
    ASSERT_EQ(api.upload(token, "desktop", {{"codex", "2026-03-01", 50}}).status, 200);
    auto me = entryFor(api.dashboard(token, "2026-03-01"), "me");
    EXPECT_EQ(me.value("codex").toInteger(), 150);
    EXPECT_EQ(me.value("claude").toInteger(), 7);
    EXPECT_EQ(me.value("total").toInteger(), 157);
    EXPECT_TRUE(QDateTime::fromString(me.value("syncedAt").toString(), Qt::ISODate).isValid());

    // The laptop's newer reading replaces its own day; the desktop's stays.
    ASSERT_EQ(api.upload(token, "laptop", {{"codex", "2026-03-01", 70}}).status, 200);
    me = entryFor(api.dashboard(token, "2026-03-01"), "me");
    EXPECT_EQ(me.value("codex").toInteger(), 120);
    EXPECT_EQ(me.value("claude").toInteger(), 7);
}

TEST(DevServerDashboard, ThirtyDayWindowCircleOrderAndRequests) {
    DevServerProcess server;
    DevServerApi api(server);
    for (const auto& [id, name] : std::vector<std::pair<QString, QString>>{{"me", "Mia"},
                                                                           {"bo", "bo"},
                                                                           {"al", "Cal"},
                                                                           {"cy", "Cy"},
                                                                           {"zed", "Zed"},
                                                                           {"in", "Ina"},
                                                                           {"out", "Otto"}})
        api.createUser(id, name);
    api.befriend("bo", "me", true);
    api.befriend("me", "al", true);
    api.befriend("cy", "me", true);  // never uploads
    api.befriend("zed", "bo", true); // a friend of a friend is not on my board
    const QString incoming = api.befriend("in", "me", false);
    const QString outgoing = api.befriend("me", "out", false);
    const QString me = api.tokenFor("me");

    // The window is the 30 days ending on the requested day.
    api.upload(me, "d",
               {{"codex", "2026-01-31", 1000}, // 30 days before: outside
                {"codex", "2026-02-01", 10},
                {"claude", "2026-03-02", 5},
                {"codex", "2026-03-03", 999}}); // after the day: outside
    api.upload(api.tokenFor("bo"), "d", {{"claude", "2026-02-15", 40}});
    api.upload(api.tokenFor("al"), "d", {{"codex", "2026-02-20", 40}});
    api.upload(api.tokenFor("zed"), "d", {{"codex", "2026-02-20", 5000}});
    api.upload(api.tokenFor("in"), "d", {{"codex", "2026-02-20", 5000}});

    const auto dashboard = api.dashboard(me, "2026-03-02");
    EXPECT_EQ(dashboard.value("user").toObject().value("name").toString(), "Mia");
    const auto board = dashboard.value("leaderboard").toArray();
    // Ties on the total are broken by name, ignoring case.
    EXPECT_EQ(idsOf(board), (QStringList{"bo", "al", "me", "cy"}));
    const auto mine = entryFor(dashboard, "me");
    EXPECT_EQ(mine.value("codex").toInteger(), 10);
    EXPECT_EQ(mine.value("claude").toInteger(), 5);
    EXPECT_EQ(mine.value("total").toInteger(), 15);
    EXPECT_TRUE(mine.value("isMe").toBool());
    EXPECT_FALSE(entryFor(dashboard, "al").value("isMe").toBool());
    EXPECT_TRUE(entryFor(dashboard, "bo").contains("syncedAt"));
    EXPECT_FALSE(entryFor(dashboard, "cy").contains("syncedAt"));
    EXPECT_EQ(entryFor(dashboard, "cy").value("total").toInteger(), 0);

    const auto requests = dashboard.value("requests").toArray();
    ASSERT_EQ(requests.size(), 2);
    for (const auto& value : requests) {
        const auto request = value.toObject();
        const bool isIncoming = request.value("id").toString() == incoming;
        EXPECT_TRUE(isIncoming || request.value("id").toString() == outgoing);
        EXPECT_EQ(request.value("incoming").toBool(), isIncoming);
        EXPECT_EQ(request.value("name").toString(), isIncoming ? "Ina" : "Otto");
        EXPECT_FALSE(request.value("accepted").toBool());
    }
    EXPECT_TRUE(dashboard.value("referralCode").isString());

    // A user without a referral code gets none; a bad or missing day is refused.
    ASSERT_EQ(
        api.post("/dev/users",
                 QJsonObject{{"id", "nocode"}, {"name", "N"}, {"referralCode", QJsonValue::Null}})
            .status,
        201);
    EXPECT_FALSE(api.dashboard(api.tokenFor("nocode"), "2026-03-02").contains("referralCode"));
    for (const char* path : {"/api/dashboard", "/api/dashboard?date=",
                             "/api/dashboard?date=2026-02-30", "/api/dashboard?date=02/03/2026"})
        EXPECT_EQ(api.get(path, me).status, 400) << path;
}

TEST(DevServerFriends, AcceptDeclineCancelAndOthersRequests) {
    DevServerProcess server;
    DevServerApi api(server);
    for (const char* id : {"me", "a", "b", "c", "x", "y"})
        api.createUser(id, QString(id).toUpper());
    const QString toAccept = api.befriend("a", "me", false);
    const QString toDecline = api.befriend("b", "me", false);
    const QString toCancel = api.befriend("me", "c", false);
    const QString strangers = api.befriend("x", "y", false);
    const QString me = api.tokenFor("me");

    // Accepting is only for the one the request was sent to.
    EXPECT_EQ(api.send("PATCH", "/api/friends/" + toCancel.toStdString(), "{}", me).status, 403);
    EXPECT_EQ(api.send("PATCH", "/api/friends/" + toAccept.toStdString(), "{}", me).status, 200);
    EXPECT_EQ(api.send("DELETE", "/api/friends/" + toDecline.toStdString(), "{}", me).status, 200);
    EXPECT_EQ(api.send("DELETE", "/api/friends/" + toCancel.toStdString(), "{}", me).status, 200);

    const auto dashboard = api.dashboard(me, "2026-03-02");
    EXPECT_EQ(idsOf(dashboard.value("leaderboard").toArray()), (QStringList{"a", "me"}));
    EXPECT_TRUE(dashboard.value("requests").toArray().isEmpty());
    EXPECT_TRUE(
        api.dashboard(api.tokenFor("c"), "2026-03-02").value("requests").toArray().isEmpty());

    for (const auto& [method, id] :
         std::vector<std::pair<std::string, QString>>{{"PATCH", strangers},
                                                      {"DELETE", strangers},
                                                      {"PATCH", "unknown"},
                                                      {"DELETE", toDecline}}) {
        const auto answer = api.send(method, "/api/friends/" + id.toStdString(), "{}", me);
        EXPECT_EQ(answer.status, 404) << method << " " << id.toStdString();
        EXPECT_FALSE(answer.error().isEmpty());
    }
    // The strangers' request is untouched, and nothing works without a session.
    EXPECT_EQ(api.dashboard(api.tokenFor("y"), "2026-03-02").value("requests").toArray().size(), 1);
    EXPECT_EQ(api.send("PATCH", "/api/friends/" + strangers.toStdString(), "{}").status, 401);
}
