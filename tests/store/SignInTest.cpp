// SPDX-License-Identifier: MIT
#include "StoreHarness.h"

#include "auth/GitHubLogin.h"
#include "auth/SignInCancelled.h"

#include <QUrlQuery>

namespace {

const QString goodCode = QStringLiteral("0123456789abcdef").repeated(4);
const ScriptedResponse login = reply(
    200, R"({"token":"tok-new","user":{"id":"u-alice","name":"Alice","email":"alice@x.io"}})");

QUrlQuery query(const RecordedRequest& request) {
    return QUrlQuery(QString::fromUtf8(request.path.mid(request.path.indexOf('?') + 1)));
}

// The callback the server's page would send back, for the state the start carried.
QString callback(const ScriptedHttpServer& server, const QString& items = "code=" + goodCode) {
    const QString state = query(server.requests().at(0)).queryItemValue("state");
    return "varno://auth/callback?state=" + state + '&' + items;
}

QCoro::Task<QString> answerWith(QString url) {
    co_return url;
}

} // namespace

// The browser sign-in and every way it can stop: the message, how far it got, and
// that nothing of a failed sign-in is kept.
TEST(SignIn, Outcomes) {
    using Browser = std::function<QString(const ScriptedHttpServer&)>; // or throws
    struct Row {
        const char* name;
        QString startURL; // {base}: the server's address, {port}: its port
        Browser browser;
        QString error; // empty: no message
        QStringList sent;
        ScriptedResponse exchange = login;
        bool keychainRefuses = false;
        QString server = "{base}";
    };
    const Browser good = [](auto& server) { return callback(server); };
    const Browser forged = [](auto&) {
        return "varno://auth/callback?state=" + GitHubLogin::randomToken() + "&code=" + goodCode;
    };
    const Browser denied = [](auto& server) { return callback(server, "error=access_denied"); };
    const Browser cancels = [](auto&) -> QString { throw SignInCancelled(); };
    const Browser cancelled = [](auto&) -> QString { throw CancellationError(); };
    const Browser fails = [](auto&) -> QString {
        throw AppError("GitHub sign-in did not complete.");
    };
    const QString offOrigin = QStringLiteral("Invalid GitHub sign-in server.");
    const QStringList start{"GET /api/auth/github"};
    const QStringList exchange{"GET /api/auth/github", "POST /api/auth/exchange"};
    // clang-format off
    const QList<Row> rows = {
        {"signs in and syncs", "{base}/dev/sign-in?x=1", good, "",
         exchange + QStringList{"POST /api/usage", "GET /api/dashboard"}},
        {"another host", "http://localhost:{port}/dev", good, offOrigin, start},
        {"another scheme", "https://127.0.0.1:{port}/dev", good, offOrigin, start},
        {"another port", "http://127.0.0.1:1/dev", good, offOrigin, start},
        {"no port", "http://127.0.0.1/dev", good, offOrigin, start},
        // Compared as written, before any parser lower-cases them.
        {"scheme in capitals", "HTTP://127.0.0.1:{port}/dev", good, offOrigin, start},
        {"host in capitals", "http://LOCALHOST:{port}/dev", good, offOrigin, start, login, false,
         "http://localhost:{port}"},
        {"callback in capitals", "{base}/dev",
         [](auto& server) { return callback(server).replace("varno://auth", "VARNO://AUTH"); },
         "GitHub sign-in could not be verified. Please try again.", start},
        {"cancelled in the browser", "{base}/dev", cancels, "", start},
        {"cancelled task", "{base}/dev", cancelled, "", start},
        {"browser gave up", "{base}/dev", fails, "GitHub sign-in did not complete.", start},
        {"forged state", "{base}/dev", forged,
         "GitHub sign-in could not be verified. Please try again.", start},
        {"denied on GitHub", "{base}/dev", denied,
         "GitHub sign-in was cancelled or expired. Please try again.", start},
        {"exchange refused", "{base}/dev", good, "Code used.", exchange,
         reply(400, R"({"error":"Code used."})")},
        {"keychain refuses", "{base}/dev", good, "Could not save your session in Keychain.",
         exchange, login, true},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StoreHarness h;
        h.settings->remove(settings::serverURLKey);
        AppStore& store = h.makeStore();
        store.setServerURL(h.expand(row.server));
        store.setError("an older message");
        const QString startURL = h.expand(row.startURL);
        const QMap<QByteArray, ScriptedResponse> answers{
            {"/api/auth/github", reply(200, R"({"url":")" + startURL.toUtf8() + R"("})")},
            {"/api/auth/exchange", row.exchange},
            {"/api/usage", okAnswer},
            {"/api/dashboard", reply(200, dashboardJson())}};
        h.server.setHandler(
            [answers](const RecordedRequest& r) { return answers.value(r.pathWithoutQuery()); });
        h.secrets->failWrites = row.keychainRefuses;
        bool waitingAndBusyWhileOpen = false;
        h.browser = [&](QUrl, std::stop_token) {
            waitingAndBusyWhileOpen = store.waitingForBrowser() && store.busy();
            return answerWith(row.browser(h.server));
        };

        awaitTask(store.loginWithGitHub());

        const bool opened = row.error != offOrigin;
        const bool signedIn = row.sent.contains("POST /api/usage"); // the first sync ran
        EXPECT_EQ(store.error().value_or(QString()), row.error);
        EXPECT_EQ(h.openedInBrowser, opened ? QList<QUrl>{QUrl(startURL)} : QList<QUrl>());
        EXPECT_EQ(waitingAndBusyWhileOpen, opened);
        EXPECT_EQ(sent(h.server, false), row.sent);
        // Saved before it is adopted; the server is remembered only then.
        const std::optional<SavedSession> session =
            signedIn ? std::optional(SavedSession{"tok-new", alice(), h.serverBase()})
                     : std::nullopt;
        EXPECT_EQ(store.session(), session);
        EXPECT_EQ(awaitTask(SessionKeychain::read(h.secrets)), session);
        EXPECT_EQ(h.settings->value(settings::serverURLKey).toString(),
                  signedIn ? h.serverBase() : QString());
        EXPECT_EQ(h.telemetry.calls.isEmpty(), !signedIn);
        EXPECT_EQ(store.lastSynced().has_value(), signedIn);
        EXPECT_FALSE(store.busy());
        EXPECT_FALSE(store.waitingForBrowser());
        // The exchange proves the verifier behind the start's fresh challenge; the
        // first sync goes out with the new token.
        const QList<RecordedRequest> requests = h.server.requests();
        if (row.sent.size() > 1) {
            const JsonNode body = parseJsonDocument(requests[1].body);
            EXPECT_EQ(body.requiredString("code"), goodCode);
            EXPECT_EQ(query(requests[0]).queryItemValue("challenge"),
                      GitHubLogin::challenge(body.requiredString("verifier")));
        }
        if (signedIn) {
            EXPECT_EQ(requests[2].header("Authorization"), "Bearer tok-new");
        }
    }
}
