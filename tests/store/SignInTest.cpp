#include "StoreHarness.h"

#include "auth/GitHubLogin.h"
#include "auth/SignInCancelled.h"
#include "model/Settings.h"

#include <QCoroTimer>
#include <QCryptographicHash>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace varno;
using namespace varno::test;

namespace {

const QString goodCode = QStringLiteral("0123456789abcdef").repeated(4);
const QByteArray loginAnswer =
    R"({"token":"tok-new","user":{"id":"u-alice","name":"Alice","email":"alice@x.io"}})";

// A server that plays the sign-in endpoints and a quiet sync.
void playServer(ScriptedHttpServer& server, QString startURL,
                QByteArray exchangeAnswer = loginAnswer, int exchangeStatus = 200) {
    server.setHandler([=](const RecordedRequest& r) {
        const QByteArray path = r.pathWithoutQuery();
        if (path == "/api/auth/github")
            return ScriptedResponse::reply(200, R"({"url":")" + startURL.toUtf8() + R"("})");
        if (path == "/api/auth/exchange")
            return ScriptedResponse::reply(exchangeStatus, exchangeAnswer);
        if (path == "/api/usage")
            return ScriptedResponse::reply(200, R"({"ok":true})");
        if (path == "/api/dashboard")
            return ScriptedResponse::reply(200, dashboardJson({"f1"}));
        return ScriptedResponse::reply(404, R"({"error":"No such endpoint."})");
    });
}

// The state the start request carried, as the server's page would echo it.
QString sentState(const ScriptedHttpServer& server) {
    for (const RecordedRequest& r : server.requests())
        if (r.pathWithoutQuery() == "/api/auth/github")
            return QUrlQuery(QUrl(QString::fromUtf8(r.path)))
                .queryItemValue(QStringLiteral("state"));
    return {};
}

QList<QByteArray> paths(const ScriptedHttpServer& server) {
    QList<QByteArray> out;
    for (const RecordedRequest& r : server.requests())
        out.append(r.pathWithoutQuery());
    return out;
}

QCoro::Task<QUrl> answerWith(QUrl callback) {
    co_return callback;
}

} // namespace

TEST(SignIn, SavesAdoptsRemembersTheServerAndSyncs) {
    StoreHarness h;
    AppStore& store = h.makeStore();
    h.settings->remove(settings::serverURLKey);
    store.setServerURL(h.serverBase());
    playServer(h.server, h.server.url(QStringLiteral("/dev/sign-in?x=1")).toString());
    bool waitingWhileOpen = false;
    bool busyWhileOpen = false;
    h.browser = [&](QUrl, std::stop_token) {
        waitingWhileOpen = store.waitingForBrowser();
        busyWhileOpen = store.busy();
        return answerWith(QUrl(QStringLiteral("varno://auth/callback?state=%1&code=%2")
                                   .arg(sentState(h.server), goodCode)));
    };

    awaitTask(store.loginWithGitHub());

    EXPECT_EQ(store.error(), std::nullopt);
    EXPECT_TRUE(waitingWhileOpen);
    EXPECT_TRUE(busyWhileOpen);
    EXPECT_FALSE(store.waitingForBrowser());
    EXPECT_FALSE(store.busy());
    ASSERT_EQ(h.openedInBrowser.size(), 1);
    EXPECT_EQ(h.openedInBrowser.first().path(), QStringLiteral("/dev/sign-in"));

    const SavedSession expected{QStringLiteral("tok-new"), alice(), h.serverBase()};
    EXPECT_EQ(store.session(), expected);
    EXPECT_EQ(awaitTask(SessionKeychain::read(h.secrets)), expected);
    EXPECT_EQ(h.settings->value(settings::serverURLKey).toString(), h.serverBase());
    EXPECT_EQ(h.telemetry.calls.first(), QStringLiteral("identify u-alice"));

    // The start carried a fresh challenge of the verifier that the exchange proves.
    const QList<RecordedRequest> sent = h.server.requests();
    EXPECT_EQ(paths(h.server), (QList<QByteArray>{"/api/auth/github", "/api/auth/exchange",
                                                  "/api/usage", "/api/dashboard"}));
    const QUrlQuery start(QUrl(QString::fromUtf8(sent[0].path)));
    const JsonNode exchange = parseJsonDocument(sent[1].body);
    const QString verifier = exchange.requiredString(QStringLiteral("verifier"));
    EXPECT_EQ(exchange.requiredString(QStringLiteral("code")), goodCode);
    EXPECT_EQ(start.queryItemValue(QStringLiteral("challenge")), GitHubLogin::challenge(verifier));
    EXPECT_NE(start.queryItemValue(QStringLiteral("state")), verifier);
    EXPECT_EQ(sent[2].header("Authorization"), "Bearer tok-new");
    EXPECT_TRUE(store.lastSynced().has_value());
    EXPECT_TRUE(store.dashboard().has_value());
}

// Every way the flow can stop: the message, how far it got, and that nothing
// of the sign-in was kept.
TEST(SignIn, FailuresLeaveTheStoreAsItWas) {
    enum class Browser {
        returnsGoodCallback,
        returnsForgedState,
        returnsError,
        cancels,
        throwsCancellation,
        fails
    };
    struct Row {
        const char* name;
        QString startURL; // {base}: the server's address
        Browser browser;
        bool keychainRefuses;
        int exchangeStatus;
        QString error; // empty: no message
        bool browserOpened;
        QList<QByteArray> sent;
    };
    const QString invalidServer = QStringLiteral("Invalid GitHub sign-in server.");
    const QList<QByteArray> startOnly{"/api/auth/github"};
    const QList<QByteArray> throughExchange{"/api/auth/github", "/api/auth/exchange"};
    const QList<Row> rows = {
        {"another host", QStringLiteral("http://localhost:{port}/dev"),
         Browser::returnsGoodCallback, false, 200, invalidServer, false, startOnly},
        {"another scheme", QStringLiteral("https://127.0.0.1:{port}/dev"),
         Browser::returnsGoodCallback, false, 200, invalidServer, false, startOnly},
        {"another port", QStringLiteral("http://127.0.0.1:1/dev"), Browser::returnsGoodCallback,
         false, 200, invalidServer, false, startOnly},
        {"no port", QStringLiteral("http://127.0.0.1/dev"), Browser::returnsGoodCallback, false,
         200, invalidServer, false, startOnly},
        {"cancelled in the browser",
         QStringLiteral("{base}/dev"),
         Browser::cancels,
         false,
         200,
         {},
         true,
         startOnly},
        {"cancelled task",
         QStringLiteral("{base}/dev"),
         Browser::throwsCancellation,
         false,
         200,
         {},
         true,
         startOnly},
        {"browser gave up", QStringLiteral("{base}/dev"), Browser::fails, false, 200,
         QStringLiteral("GitHub sign-in did not complete."), true, startOnly},
        {"forged state", QStringLiteral("{base}/dev"), Browser::returnsForgedState, false, 200,
         QStringLiteral("GitHub sign-in could not be verified. Please try again."), true,
         startOnly},
        {"denied on GitHub", QStringLiteral("{base}/dev"), Browser::returnsError, false, 200,
         QStringLiteral("GitHub sign-in was cancelled or expired. Please try again."), true,
         startOnly},
        {"exchange refused", QStringLiteral("{base}/dev"), Browser::returnsGoodCallback, false, 400,
         QStringLiteral("That sign-in code was already used."), true, throughExchange},
        {"keychain refuses", QStringLiteral("{base}/dev"), Browser::returnsGoodCallback, true, 200,
         QStringLiteral("Could not save your session in Keychain."), true, throughExchange},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StoreHarness h;
        AppStore& store = h.makeStore();
        h.settings->remove(settings::serverURLKey);
        store.setServerURL(h.serverBase());
        store.setError(QStringLiteral("an older message"));
        const QString startURL =
            QString(row.startURL)
                .replace(QStringLiteral("{base}"), h.serverBase())
                .replace(QStringLiteral("{port}"), QString::number(h.server.port()));
        playServer(h.server, startURL,
                   row.exchangeStatus == 200 ? loginAnswer
                                             : R"({"error":"That sign-in code was already used."})",
                   row.exchangeStatus);
        h.secrets->failWrites = row.keychainRefuses;
        const Browser browser = row.browser;
        h.browser = [&h, browser](QUrl, std::stop_token) -> QCoro::Task<QUrl> {
            const QString state = sentState(h.server);
            switch (browser) {
            case Browser::returnsGoodCallback:
                return answerWith(QUrl(
                    QStringLiteral("varno://auth/callback?state=%1&code=%2").arg(state, goodCode)));
            case Browser::returnsForgedState:
                return answerWith(QUrl(QStringLiteral("varno://auth/callback?state=%1&code=%2")
                                           .arg(GitHubLogin::randomToken(), goodCode)));
            case Browser::returnsError:
                return answerWith(
                    QUrl(QStringLiteral("varno://auth/callback?state=%1&error=access_denied")
                             .arg(state)));
            case Browser::cancels:
                throw SignInCancelled();
            case Browser::throwsCancellation:
                throw CancellationError();
            case Browser::fails:
                throw AppError(QStringLiteral("GitHub sign-in did not complete."));
            }
            throw std::logic_error("unreachable");
        };

        awaitTask(store.loginWithGitHub());

        EXPECT_EQ(store.error().value_or(QString()), row.error);
        EXPECT_EQ(h.openedInBrowser.size(), row.browserOpened ? 1 : 0);
        EXPECT_EQ(paths(h.server), row.sent);
        EXPECT_EQ(store.session(), std::nullopt);
        EXPECT_FALSE(h.keychainHasSession());
        EXPECT_FALSE(h.settings->contains(settings::serverURLKey));
        EXPECT_TRUE(h.telemetry.calls.isEmpty());
        EXPECT_FALSE(store.busy());
        EXPECT_FALSE(store.waitingForBrowser());
    }
}

TEST(SignIn, SecondCallWhileWaitingDoesNothingAndCancelEndsTheWait) {
    StoreHarness h;
    AppStore& store = h.makeStore();
    store.setServerURL(h.serverBase());
    playServer(h.server, h.serverBase() + QStringLiteral("/dev"));
    // A browser that waits until the sign-in is cancelled.
    h.browser = [](QUrl, std::stop_token token) -> QCoro::Task<QUrl> {
        return [](std::stop_token t) -> QCoro::Task<QUrl> {
            QTimer poll;
            poll.start(5);
            while (!t.stop_requested())
                co_await poll;
            throw SignInCancelled();
        }(token);
    };
    std::stop_source stop;
    auto first = store.loginWithGitHub(stop.get_token());
    ASSERT_TRUE(waitUntil([&] { return store.waitingForBrowser(); }, 5s));

    awaitTask(store.loginWithGitHub(), 1s);
    EXPECT_EQ(h.openedInBrowser.size(), 1);
    EXPECT_EQ(h.server.requestCount(), 1);

    stop.request_stop();
    awaitTask(std::move(first), 5s);
    EXPECT_FALSE(store.busy());
    EXPECT_FALSE(store.waitingForBrowser());
    EXPECT_EQ(store.error(), std::nullopt);
    EXPECT_EQ(store.session(), std::nullopt);
}
