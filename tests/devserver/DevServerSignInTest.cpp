// SPDX-License-Identifier: MIT
#include "DevServerApi.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

using namespace varno::test;

namespace {
std::string startPath(const QString& challenge, const std::string& state) {
    return "/api/auth/github?challenge=" + challenge.toStdString() + "&state=" + state;
}

QString codeOf(const Answer& redirect) {
    return QUrlQuery(QUrl(QString::fromStdString(redirect.location))).queryItemValue("code");
}
} // namespace

TEST(DevServerSignIn, BrowserFlowGivesATokenThatWorksUntilLogout) {
    DevServerProcess server(DevServerProcess::Seed::demo);
    DevServerApi api(server);
    const QString verifier = "correct horse battery staple";

    const auto start = api.call("GET", startPath(challengeOf(verifier), "s%20t"));
    ASSERT_EQ(start.status, 200) << start.body;
    // The page must be on the very origin the app talks to, or the app refuses it.
    const QUrl page(start.json.value("url").toString());
    EXPECT_EQ(page.adjusted(QUrl::RemovePath | QUrl::RemoveQuery).toString(), server.baseUrl());
    const std::string pagePath = (page.path() + "?" + page.query(QUrl::FullyEncoded)).toStdString();
    EXPECT_NE(api.call("GET", pagePath).body.find("Ada Lovelace"), std::string::npos);

    const auto redirect = api.call("GET", pagePath + "&account=demo");
    ASSERT_EQ(redirect.status, 302);
    const QUrl callback(QString::fromStdString(redirect.location));
    EXPECT_EQ(callback.adjusted(QUrl::RemoveQuery).toString(), "varno://auth/callback");
    EXPECT_EQ(QUrlQuery(callback).queryItemValue("state", QUrl::FullyDecoded), "s t");
    const QString code = codeOf(redirect);
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{64}$").match(code).hasMatch()) << code.toStdString();

    const QJsonObject exchange{{"code", code}, {"verifier", verifier}};
    const auto login = api.post("/api/auth/exchange", exchange);
    ASSERT_EQ(login.status, 200) << login.body;
    const QString token = login.json.value("token").toString();
    EXPECT_EQ(login.json.value("user").toObject().value("id").toString(), "demo");
    EXPECT_EQ(api.post("/api/auth/exchange", exchange).status, 400); // used once only

    // The demo circle: medals, totals of very different sizes, an em dash, and requests.
    const auto demo = api.dashboard(token, QDate::currentDate().toString(Qt::ISODate));
    const auto board = demo.value("leaderboard").toArray();
    ASSERT_GE(board.size(), 6);
    int unsynced = 0, incoming = 0;
    for (const auto& entry : board)
        unsynced += !entry.toObject().contains("syncedAt");
    for (const auto& request : demo.value("requests").toArray())
        incoming += request.toObject().value("incoming").toBool();
    EXPECT_EQ((QList{unsynced, incoming, int(demo.value("requests").toArray().size())}),
              (QList{1, 1, 2}));
    EXPECT_GT(board[0].toObject().value("total").toInteger(),
              1000 * std::max(1LL, board[board.size() - 2].toObject().value("total").toInteger()));
    EXPECT_FALSE(demo.value("referralCode").toString().isEmpty());

    EXPECT_TRUE(api.call("POST", "/api/auth/logout", "{}", token).json.value("ok").toBool());
    // Every /api/ call but the sign-in ones needs a live token.
    for (const QString& rejected : {token, QString(), QString("not-a-token")})
        for (const QString call :
             {"GET /api/dashboard?date=2026-03-01", "POST /api/usage", "PATCH /api/friends/1"}) {
            const auto answer = api.call(call.section(' ', 0, 0).toStdString(),
                                         call.section(' ', 1).toStdString(), "{}", rejected);
            EXPECT_EQ(answer.status, 401) << call.toStdString();
            EXPECT_EQ(answer.error(), "Sign in to Varno again.") << call.toStdString();
        }
}

TEST(DevServerSignIn, RefusesMalformedStartsUnknownAttemptsAndWrongOrLateVerifiers) {
    DevServerProcess server(DevServerProcess::Seed::demo);
    DevServerApi api(server);
    const QString good = challengeOf("v");
    const auto page = [&](const std::string& state, const std::string& account) {
        return "/dev/signin?challenge=" + good.toStdString() + "&state=" + state +
               "&account=" + account;
    };
    const auto refused = [&](const std::string& path, int status) {
        const auto answer = api.call("GET", path);
        EXPECT_EQ(answer.status, status) << path;
        EXPECT_FALSE(answer.error().isEmpty()) << path;
    };
    for (const auto& path :
         {startPath(good.toUpper(), "s"), startPath(good.left(63), "s"), startPath(good + "0", "s"),
          startPath(good, ""), std::string("/api/auth/github?state=s"),
          startPath(good, "s") + "&state=again"})
        refused(path, 400);
    refused("/dev/signin?challenge=" + challengeOf("never").toStdString() + "&state=s&account=demo",
            400);
    ASSERT_EQ(api.call("GET", startPath(good, "s")).status, 200);
    refused(page("x", "demo"), 400);
    refused(page("s", "nobody"), 404);

    // A wrong verifier spends the code: it cannot be retried with the right one.
    const QString code = codeOf(api.call("GET", page("s", "demo")));
    ASSERT_FALSE(code.isEmpty());
    EXPECT_EQ(api.post("/api/auth/exchange", {{"code", code}, {"verifier", "w"}}).status, 400);
    EXPECT_EQ(api.post("/api/auth/exchange", {{"code", code}, {"verifier", "v"}}).status, 400);

    // The page link is good once; its code expires after 10 minutes.
    ASSERT_EQ(api.call("GET", startPath(good, "s2")).status, 200);
    const QString late = codeOf(api.call("GET", page("s2", "grace")));
    ASSERT_FALSE(late.isEmpty());
    refused(page("s2", "grace"), 400);
    ASSERT_EQ(api.post("/dev/clock", {{"advanceSeconds", 601}}).status, 200);
    const auto expired = api.post("/api/auth/exchange", {{"code", late}, {"verifier", "v"}});
    EXPECT_EQ(expired.status, 400);
    EXPECT_TRUE(expired.error().contains("expired")) << expired.error().toStdString();

    // The page address follows the Host the client used, so "localhost" stays "localhost".
    const auto viaLocalhost = api.call("GET", startPath(challengeOf("w"), "s"), {}, {},
                                       {{"Host", "localhost:" + std::to_string(server.port())}});
    EXPECT_EQ(QUrl(viaLocalhost.json.value("url").toString()).authority(),
              QString("localhost:%1").arg(server.port()));
}
