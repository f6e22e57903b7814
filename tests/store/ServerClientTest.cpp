#include "StoreHarness.h"

#include "store/NetworkError.h"
#include "store/ServerRecords.h"

#include "support/EventLoopProbe.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace varno;
using namespace varno::test;

namespace {

QStringList sentRequests(const ScriptedHttpServer& server) {
    QStringList sent;
    for (const RecordedRequest& r : server.requests())
        sent.append(QString::fromUtf8(r.method + ' ' + r.path));
    // Qt sends a request again on a fresh connection after a non-HTTP answer.
    sent.removeDuplicates();
    return sent;
}

const QString upload = QStringLiteral("POST /api/usage");
const QString dashboardToday = QStringLiteral("GET /api/dashboard?date=2026-12-05");

} // namespace

// Every way a server call can fail, seen through a sync: the message the user
// gets, what reached the server, and what the store holds afterwards.
TEST(ServerClient, FailuresOfAnUploadThroughTheStore) {
    enum class After { unchanged, signedOut, reloaded };
    struct Row {
        const char* name;
        QString serverURL; // {base}: the scripted server's address, {port}: its port
        std::function<void(ScriptedHttpServer&)> script;
        QString error; // empty: no error
        QStringList sent;
        After after;
        std::chrono::milliseconds idleTimeout = 20s;
    };
    const auto answers = [](QList<ScriptedResponse> responses) {
        return [responses](ScriptedHttpServer& s) {
            for (const ScriptedResponse& r : responses)
                s.enqueue(r);
        };
    };
    const auto byDefault = [](ScriptedResponse response) {
        return [response](ScriptedHttpServer& s) { s.setDefault(response); };
    };
    const QString address = ServerClient::addressMessage;
    const QString unavailable = ServerClient::unavailableMessage;
    const QString noResponse = ServerClient::noResponseMessage;
    const ScriptedResponse ok = ScriptedResponse::reply(200, R"({"ok":true})");
    const ScriptedResponse dashboard = ScriptedResponse::reply(200, dashboardJson({"f9"}));

    const QList<Row> rows = {
        {"empty address", QString(), {}, address, {}, After::unchanged},
        {"only spaces", QStringLiteral("  \n "), {}, address, {}, After::unchanged},
        {"not a URL", QStringLiteral("http://exa mple.com"), {}, address, {}, After::unchanged},
        {"user name",
         QStringLiteral("http://me@127.0.0.1:{port}"),
         {},
         address,
         {},
         After::unchanged},
        {"password",
         QStringLiteral("https://:pw@varno.example"),
         {},
         address,
         {},
         After::unchanged},
        {"other scheme",
         QStringLiteral("ftp://127.0.0.1:{port}"),
         {},
         address,
         {},
         After::unchanged},
        {"no scheme", QStringLiteral("127.0.0.1:{port}"), {}, address, {}, After::unchanged},
        {"http to a private address",
         QStringLiteral("http://192.168.1.10:{port}"),
         {},
         address,
         {},
         After::unchanged},
        {"http to a name",
         QStringLiteral("http://varno.example"),
         {},
         address,
         {},
         After::unchanged},
        {"http to loopback lookalike",
         QStringLiteral("http://localhost.varno.example:{port}"),
         {},
         address,
         {},
         After::unchanged},
        {"spaces and slashes around",
         QStringLiteral(" \t{base}///\n"),
         answers({ok, dashboard}),
         {},
         {upload, dashboardToday},
         After::reloaded},
        {"localhost by name",
         QStringLiteral("http://localhost:{port}"),
         answers({ok, dashboard}),
         {},
         {upload, dashboardToday},
         After::reloaded},
        {"500 with an HTML page",
         QStringLiteral("{base}"),
         answers({ScriptedResponse::reply(500, "<html><body>Oops</body></html>", "text/html")}),
         unavailable,
         {upload},
         After::unchanged},
        {"404 with a Failure body",
         QStringLiteral("{base}"),
         answers({ScriptedResponse::reply(404, R"({"error":"No such device.","code":7})")}),
         QStringLiteral("No such device."),
         {upload},
         After::unchanged},
        {"422 with a blank Failure",
         QStringLiteral("{base}"),
         answers({ScriptedResponse::reply(422, R"({"error":"  "})")}),
         unavailable,
         {upload},
         After::unchanged},
        {"400 with an empty body",
         QStringLiteral("{base}"),
         answers({ScriptedResponse::reply(400)}),
         unavailable,
         {upload},
         After::unchanged},
        {"401 with a Failure body",
         QStringLiteral("{base}"),
         answers({ScriptedResponse::reply(401, R"({"error":"Your session expired."})")}),
         QStringLiteral("Your session expired."),
         {upload},
         After::signedOut},
        {"401 without one",
         QStringLiteral("{base}"),
         answers({ScriptedResponse::reply(401, "Unauthorized", "text/plain")}),
         unavailable,
         {upload},
         After::signedOut},
        {"2xx without ok",
         QStringLiteral("{base}"),
         answers({ScriptedResponse::reply(200, "{}")}),
         QStringLiteral("missing member \"ok\" at $"),
         {upload},
         After::unchanged},
        {"ok false still counts",
         QStringLiteral("{base}"),
         answers({ScriptedResponse::reply(201, R"({"ok":false})"), dashboard}),
         {},
         {upload, dashboardToday},
         After::reloaded},
        {"not HTTP",
         QStringLiteral("{base}"),
         byDefault(ScriptedResponse::garbage()),
         noResponse,
         {upload},
         After::unchanged},
        {"connection closed",
         QStringLiteral("{base}"),
         byDefault(ScriptedResponse::closeConnection()),
         noResponse,
         {upload},
         After::unchanged},
        {"stalls",
         QStringLiteral("{base}"),
         answers({ScriptedResponse(ok).withDelay(5s)}),
         QStringLiteral("The request timed out."),
         {upload},
         After::unchanged,
         300ms},
        {"refused",
         QStringLiteral("{base}"),
         [](ScriptedHttpServer& s) { s.stop(); },
         QStringLiteral("Connection refused"),
         {},
         After::unchanged},
        // Qt reports "::1" without brackets; the loopback list still lets it through
        // (our server listens on IPv4 only, so the connection itself is refused).
        {"IPv6 loopback",
         QStringLiteral("http://[::1]:{port}"),
         {},
         QStringLiteral("Connection refused"),
         {},
         After::unchanged},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StoreHarness h;
        h.idleTimeout = row.idleTimeout;
        AppStore& store = h.signedInStore();
        const Dashboard before = decodeJson<Dashboard>(dashboardJson({"f1"}));
        store.setDashboard(before);
        store.setServerURL(
            QString(row.serverURL)
                .replace(QStringLiteral("{base}"), h.serverBase())
                .replace(QStringLiteral("{port}"), QString::number(h.server.port())));
        if (row.script)
            row.script(h.server);
        EventLoopProbe probe(5);
        QElapsedTimer elapsed;
        elapsed.start();

        awaitTask(store.refresh(true), 10s);

        // Garbage, resets, HTML and stalls never hold the store or the main thread:
        // at a 5 ms tick, a loop that kept turning shows most of the ticks.
        EXPECT_GE(probe.ticks(), elapsed.elapsed() / 20);

        EXPECT_EQ(store.error().value_or(QString()), row.error);
        EXPECT_EQ(sentRequests(h.server), row.sent);
        EXPECT_FALSE(store.busy());
        switch (row.after) {
        case After::unchanged:
            EXPECT_EQ(store.session(), h.session);
            EXPECT_EQ(store.dashboard(), before);
            EXPECT_TRUE(h.keychainHasSession());
            EXPECT_EQ(store.lastSynced(), std::nullopt);
            break;
        case After::signedOut:
            EXPECT_EQ(store.session(), std::nullopt);
            EXPECT_EQ(store.dashboard(), std::nullopt);
            EXPECT_FALSE(h.keychainHasSession());
            break;
        case After::reloaded:
            ASSERT_TRUE(store.dashboard().has_value());
            EXPECT_EQ(store.dashboard()->leaderboard.last().id, QStringLiteral("f9"));
            EXPECT_EQ(store.lastSynced(), h.clock);
            break;
        }
        // Failures at the upload never send the event.
        EXPECT_EQ(h.telemetry.captures().size(), row.after == After::reloaded ? 1 : 0);
    }
}

TEST(ServerClient, RequestShapeAndDecoding) {
    StoreHarness h;
    AppStore& store = h.signedInStore();
    h.server.enqueue(ScriptedResponse::reply(200, R"({"ok":true})"));
    h.server.enqueue(ScriptedResponse::reply(200, "null"));
    awaitTask(store.refresh(true));

    ASSERT_EQ(h.server.requestCount(), 2);
    const RecordedRequest uploadRequest = h.server.requests().at(0);
    EXPECT_EQ(uploadRequest.header("Content-Type"), "application/json");
    EXPECT_EQ(uploadRequest.header("Authorization"), "Bearer tok-1");
    EXPECT_EQ(uploadRequest.body,
              "{\"deviceId\":\"" + store.deviceId().toUtf8() +
                  R"(","collectedAt":"2026-12-05T05:06:03Z","daily":[)"
                  R"({"provider":"codex","date":"2026-12-05","totalTokens":1200},)"
                  R"({"provider":"claude","date":"2026-12-05","totalTokens":7}]})");
    const RecordedRequest dashboardRequest = h.server.requests().at(1);
    EXPECT_EQ(dashboardRequest.header("Content-Type"), "application/json");
    EXPECT_TRUE(dashboardRequest.body.isEmpty());
    // A JSON null dashboard is no dashboard, and no error.
    EXPECT_EQ(store.dashboard(), std::nullopt);
    EXPECT_EQ(store.error(), std::nullopt);

    // Signed out: no bearer header; the start path reaches the server with its query.
    store.setSession(std::nullopt);
    h.server.clearRequests();
    h.server.enqueue(ScriptedResponse::reply(200, R"({"url":"http://127.0.0.1:1/x"})"));
    const Start start =
        awaitTask(store.request<Start>(QStringLiteral("auth/github?challenge=ab&state=cd"), "GET"));
    EXPECT_EQ(start.url, QUrl(QStringLiteral("http://127.0.0.1:1/x")));
    ASSERT_EQ(h.server.requestCount(), 1);
    EXPECT_EQ(h.server.requests().at(0).path, "/api/auth/github?challenge=ab&state=cd");
    EXPECT_FALSE(h.server.requests().at(0).hasHeader("Authorization"));

    // A path that makes the whole address unparsable is refused before sending.
    h.server.clearRequests();
    try {
        awaitTask(store.request<OK>(QStringLiteral("bad path"), "GET"));
        ADD_FAILURE() << "expected the address message";
    } catch (const AppError& e) {
        EXPECT_EQ(e.message(), ServerClient::addressMessage);
    }
    EXPECT_EQ(h.server.requestCount(), 0);

    // A 401 while signed out only throws. (A body-less POST goes out with an empty
    // body, so the server answers at once instead of waiting for one.)
    h.server.enqueue(ScriptedResponse::reply(401, R"({"error":"Sign in first."})"));
    try {
        awaitTask(store.request<OK>(QStringLiteral("usage"), "POST"), 3s);
        ADD_FAILURE() << "expected the server's message";
    } catch (const AppError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Sign in first."));
    }
    EXPECT_EQ(h.secrets->removes, 0);
}

namespace {

// A transport that ignores cancellation and answers once released.
struct StubbornTransport {
    std::shared_ptr<bool> released = std::make_shared<bool>(false);
    HttpResponse answer;
    int calls = 0;

    SendRequest send() {
        return [this](HttpRequest, std::stop_token) { return respond(released, answer, &calls); };
    }
    static QCoro::Task<HttpResponse> respond(std::shared_ptr<bool> released, HttpResponse answer,
                                             int* calls) {
        ++*calls;
        QTimer poll;
        poll.start(5);
        while (!*released)
            co_await poll;
        co_return answer;
    }
};

} // namespace

TEST(ServerClient, CancellationDropsTheAnswer) {
    StoreHarness h;
    StubbornTransport stubborn;
    stubborn.answer = HttpResponse{true, 401, R"({"error":"Session expired."})", {}};
    h.transport = stubborn.send();
    AppStore& store = h.signedInStore();

    // Stopped before sending: nothing goes out.
    std::stop_source early;
    early.request_stop();
    EXPECT_THROW(awaitTask(store.request<OK>(QStringLiteral("usage"), "POST", std::nullopt,
                                             early.get_token())),
                 CancellationError);
    EXPECT_EQ(stubborn.calls, 0);

    // Stopped while waiting, and the transport answers 401 anyway: the answer is
    // dropped, so the session stays.
    std::stop_source late;
    QTimer::singleShot(50, [&] {
        late.request_stop();
        *stubborn.released = true;
    });
    EXPECT_THROW(awaitTask(store.request<OK>(QStringLiteral("usage"), "POST", std::nullopt,
                                             late.get_token())),
                 CancellationError);
    EXPECT_EQ(stubborn.calls, 1);
    EXPECT_EQ(store.session(), h.session);
    EXPECT_TRUE(h.keychainHasSession());
}

TEST(ServerClient, NetworkTransportAbortsOnStopAndTellsItFromATimeout) {
    ScriptedHttpServer server;
    QNetworkAccessManager network;
    const SendRequest send = networkTransport(&network);
    HttpRequest request;
    request.url = server.url(QStringLiteral("/api/usage"));
    request.method = "GET";

    // Our own stop: the cancelled code, promptly, with the server still holding it.
    server.enqueue(ScriptedResponse::reply(200, "{}").heldUntilReleased());
    std::stop_source stop;
    QTimer::singleShot(100, [&] { stop.request_stop(); });
    EventLoopProbe probe(5);
    try {
        awaitTask(send(request, stop.get_token()), 5s);
        ADD_FAILURE() << "expected a cancellation";
    } catch (const NetworkError& e) {
        EXPECT_TRUE(e.isCancelled());
        EXPECT_TRUE(
            ServerClient::isExpectedCancellation(std::current_exception(), stop.get_token()));
        // The same error while the caller still runs is a real failure.
        EXPECT_FALSE(ServerClient::isExpectedCancellation(std::current_exception(), {}));
    }
    EXPECT_EQ(server.stalledCount(), 1);
    EXPECT_GT(probe.ticks(), 5);
    server.release();

    // Idle for longer than the timeout: not a cancellation.
    server.enqueue(ScriptedResponse::reply(200, "{}").withDelay(3s));
    request.idleTimeout = 200ms;
    try {
        awaitTask(send(request, {}), 5s);
        ADD_FAILURE() << "expected a timeout";
    } catch (const NetworkError& e) {
        EXPECT_FALSE(e.isCancelled());
        EXPECT_EQ(e.text(), QStringLiteral("The request timed out."));
    }

    // Any HTTP status is an answer, with its body and headers.
    server.enqueue(
        ScriptedResponse::reply(503, "down", "text/plain").withHeader("Retry-After", "5"));
    request.idleTimeout = 20s;
    const HttpResponse answer = awaitTask(send(request, {}), 5s);
    EXPECT_TRUE(answer.isHttp);
    EXPECT_EQ(answer.status, 503);
    EXPECT_EQ(answer.body, "down");
    EXPECT_TRUE(answer.headers.contains(std::pair<QByteArray, QByteArray>("Retry-After", "5")));

    // Bytes that are not HTTP.
    server.setDefault(ScriptedResponse::garbage());
    EXPECT_FALSE(awaitTask(send(request, {}), 5s).isHttp);
}
