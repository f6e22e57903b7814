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

std::string pagePath(const Answer& start) {
    const QUrl url(start.json.value("url").toString());
    return (url.path() + "?" + url.query(QUrl::FullyEncoded)).toStdString();
}
} // namespace

TEST(DevServerSignIn, BrowserFlowGivesATokenThatWorksUntilLogout) {
    DevServerProcess server(DevServerProcess::Seed::demo);
    DevServerApi api(server);
    const QString verifier = "correct horse battery staple";

    const auto start = api.get(startPath(challengeOf(verifier), "s%20t"));
    ASSERT_EQ(start.status, 200) << start.body;
    // The page must be on the very origin the app talks to, or the app refuses it.
    const QUrl pageUrl(start.json.value("url").toString());
    const QUrl base(server.baseUrl());
    EXPECT_EQ(pageUrl.scheme(), base.scheme());
    EXPECT_EQ(pageUrl.host(), base.host());
    EXPECT_EQ(pageUrl.port(), base.port());
    EXPECT_EQ(pageUrl.path(), "/dev/signin");

    const auto page = api.get(pagePath(start));
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("Ada Lovelace"), std::string::npos);
    EXPECT_NE(page.contentType.find("text/html"), std::string::npos);

    const auto redirect = api.get(pagePath(start) + "&account=demo");
    ASSERT_EQ(redirect.status, 302);
    const QUrl callback(QString::fromStdString(redirect.location));
    EXPECT_EQ(callback.scheme(), "varno");
    EXPECT_EQ(callback.host(), "auth");
    EXPECT_EQ(callback.path(), "/callback");
    const QUrlQuery items(callback);
    EXPECT_EQ(items.queryItemValue("state", QUrl::FullyDecoded), "s t");
    const QString code = items.queryItemValue("code");
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{64}$").match(code).hasMatch()) << code.toStdString();

    const auto exchange =
        api.post("/api/auth/exchange", QJsonObject{{"code", code}, {"verifier", verifier}});
    ASSERT_EQ(exchange.status, 200) << exchange.body;
    const QString token = exchange.json.value("token").toString();
    EXPECT_FALSE(token.isEmpty());
    const auto user = exchange.json.value("user").toObject();
    EXPECT_EQ(user.value("id").toString(), "demo");
    EXPECT_EQ(user.value("name").toString(), "Ada Lovelace");
    EXPECT_TRUE(user.value("email").isString());

    const auto reused =
        api.post("/api/auth/exchange", QJsonObject{{"code", code}, {"verifier", verifier}});
    EXPECT_EQ(reused.status, 400);
    EXPECT_FALSE(reused.error().isEmpty());

    EXPECT_EQ(api.get("/api/dashboard?date=2026-03-01", token).status, 200);
    const auto logout = api.send("POST", "/api/auth/logout", "{}", token);
    EXPECT_EQ(logout.status, 200);
    EXPECT_TRUE(logout.json.value("ok").toBool());
    for (const QString& rejected : {token, QString()}) {
        const auto after = api.get("/api/dashboard?date=2026-03-01", rejected);
        EXPECT_EQ(after.status, 401);
        EXPECT_EQ(after.error(), "Sign in to Varno again.");
    }
    EXPECT_EQ(api.upload("not-a-token", "d", {}).status, 401);
}

TEST(DevServerSignIn, RefusesMalformedStartsUnknownAttemptsAndWrongVerifiers) {
    DevServerProcess server(DevServerProcess::Seed::demo);
    DevServerApi api(server);
    const QString good = challengeOf("v");

    for (const auto& path :
         {startPath(good.toUpper(), "s"), startPath(good.left(63), "s"), startPath(good + "0", "s"),
          startPath(good, ""), std::string("/api/auth/github?state=s"),
          startPath(good, "s") + "&state=again"}) {
        const auto answer = api.get(path);
        EXPECT_EQ(answer.status, 400) << path;
        EXPECT_FALSE(answer.error().isEmpty()) << path;
    }

    // The page refuses a challenge that was never started and a state that does not match.
    EXPECT_EQ(api.get("/dev/signin?challenge=" + challengeOf("never").toStdString() +
                      "&state=s&account=demo")
                  .status,
              400);
    ASSERT_EQ(api.get(startPath(good, "s")).status, 200);
    EXPECT_EQ(
        api.get("/dev/signin?challenge=" + good.toStdString() + "&state=x&account=demo").status,
        400);
    EXPECT_EQ(
        api.get("/dev/signin?challenge=" + good.toStdString() + "&state=s&account=nobody").status,
        404);

    // A wrong verifier spends the code: it cannot be retried with the right one.
    const auto redirect =
        api.get("/dev/signin?challenge=" + good.toStdString() + "&state=s&account=demo");
    ASSERT_EQ(redirect.status, 302);
    const QString code =
        QUrlQuery(QUrl(QString::fromStdString(redirect.location))).queryItemValue("code");
    const auto wrong =
        api.post("/api/auth/exchange", QJsonObject{{"code", code}, {"verifier", "w"}});
    EXPECT_EQ(wrong.status, 400);
    EXPECT_EQ(api.post("/api/auth/exchange", QJsonObject{{"code", code}, {"verifier", "v"}}).status,
              400);

    // The page link and the code are each good once; a code expires after 10 minutes.
    ASSERT_EQ(api.get(startPath(good, "s2")).status, 200);
    const auto second =
        api.get("/dev/signin?challenge=" + good.toStdString() + "&state=s2&account=grace");
    ASSERT_EQ(second.status, 302);
    EXPECT_EQ(
        api.get("/dev/signin?challenge=" + good.toStdString() + "&state=s2&account=grace").status,
        400);
    ASSERT_EQ(api.post("/dev/clock", QJsonObject{{"advanceSeconds", 601}}).status, 200);
    const QString late =
        QUrlQuery(QUrl(QString::fromStdString(second.location))).queryItemValue("code");
    const auto expired =
        api.post("/api/auth/exchange", QJsonObject{{"code", late}, {"verifier", "v"}});
    EXPECT_EQ(expired.status, 400);
    EXPECT_TRUE(expired.error().contains("expired")) << expired.error().toStdString();

    // The start URL follows the Host the client used, so "localhost" stays "localhost".
    const auto viaLocalhost = api.get(startPath(challengeOf("w"), "s"), {},
                                      {{"Host", "localhost:" + std::to_string(server.port())}});
    EXPECT_TRUE(viaLocalhost.json.value("url").toString().startsWith(
        QString("http://localhost:%1/dev/signin?").arg(server.port())))
        << viaLocalhost.body;
}
