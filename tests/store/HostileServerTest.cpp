#include "StoreHarness.h"

#include "store/HttpTransport.h"
#include "store/NetworkError.h"
#include "support/EventLoopProbe.h"

namespace {

// An answer written byte for byte, after which the connection closes: at once, or a
// moment later, so that the client has read every byte before it sees the close (Qt 6.4
// then often reports no error at all).
ScriptedResponse rawBytes(QByteArray head, QByteArray body = {},
                          std::chrono::milliseconds closeAfter = 100ms) {
    return ScriptedResponse::rawAnswer([head, body, closeAfter](RawConnection& c) {
        c.write(head) && c.write(body) && (closeAfter == 0ms || c.pause(closeAfter));
    });
}

// A chunked answer that never ends.
ScriptedResponse endlessChunks() {
    return ScriptedResponse::rawAnswer([](RawConnection& c) {
        const QByteArray chunk =
            QByteArray::number(64 * 1024, 16) + "\r\n" + QByteArray(64 * 1024, ' ') + "\r\n";
        if (c.write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                    "Transfer-Encoding: chunked\r\n\r\n1\r\n[\r\n"))
            while (c.write(chunk)) {
            }
    });
}

// Header lines without end: no byte of a body ever comes, so nothing but the deadline
// ends the wait.
ScriptedResponse endlessHeaders() {
    return ScriptedResponse::rawAnswer([](RawConnection& c) {
        if (c.write("HTTP/1.1 200 OK\r\n"))
            for (int i = 0; c.write("X-Filler-" + QByteArray::number(i) + ": " +
                                    QByteArray(100, 'x') + "\r\n");
                 ++i) {
            }
    });
}

// One byte every 50 ms: never idle, never done.
ScriptedResponse trickle() {
    return ScriptedResponse::rawAnswer([](RawConnection& c) {
        if (c.write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                    "100000\r\n\r\n{"))
            while (c.pause(50ms) && c.write(" ")) {
            }
    });
}

// "METHOD path" of every request. When a connection closes under a request, Qt may send
// it once more on a fresh one; a request right after the same one counts once.
QStringList everyRequest(const ScriptedHttpServer& server) {
    QStringList out;
    for (const RecordedRequest& r : server.requests()) {
        const QString request = QString::fromUtf8(r.method + ' ' + r.path);
        if (out.isEmpty() || out.last() != request)
            out << request;
    }
    return out;
}

// A row's answers cut short: Qt's second try gets the same cut answer.
void cutAgain(StoreHarness& h, const ScriptedResponse& cut) {
    h.server.setDefault(cut);
}

// Fills in {port} (the store's server) and {elsewhere} (a second listener) in the
// answer's headers.
ScriptedResponse located(ScriptedResponse answer, quint16 port, quint16 elsewhere) {
    for (auto& [name, value] : answer.headers)
        value.replace("{port}", QByteArray::number(port))
            .replace("{elsewhere}", QByteArray::number(elsewhere));
    return answer;
}

} // namespace

// A sync against a server that misbehaves in every way a network can: redirects that
// would carry the token away, answers cut short, too large, endless or trickled, and a
// header block of a megabyte. What the user sees, what reached which server, what the
// store keeps, and that neither the app nor the server's writer is left hanging.
TEST(HostileServer, AnswersAreBoundedAndTheTokenNeverLeavesItsOrigin) {
    struct Row {
        const char* name;
        QList<ScriptedResponse> answers; // for the upload, then the dashboard
        QString error;
        QStringList sent;
        bool synced = false;   // the upload counted: lastSynced moved and the event went out
        bool reloaded = false; // the dashboard was replaced
        std::function<void(StoreHarness&)> setup = nullptr;
        // Qt 6.4 goes on reading a header block after the reply has failed, for as long
        // as the server sends it, and holds up the network manager meanwhile; only the
        // request is bounded then.
        bool hangsUp = true;
    };
    const QString upload = QStringLiteral("POST /api/usage");
    const QString unavailable = ServerClient::unavailableMessage;
    const QString closed = QStringLiteral("Connection closed");
    const QString tooLarge = QStringLiteral("The server's answer is larger than 1 MB.");
    const QByteArray okHead = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
    const ScriptedResponse board = reply(200, dashboardJson({"f2"}));
    const QByteArray cutHead = okHead + "Content-Length: 500\r\n\r\n";
    const ScriptedResponse cutUpload = rawBytes(cutHead, R"({"ok":true})");
    const ScriptedResponse cutUploadAtOnce = rawBytes(cutHead, R"({"ok":true})", 0ms);
    // Not chunked: Qt 6.4 takes a chunked answer whose last bytes come in the same read
    // as the close for a whole one, and no reply API tells the two apart.
    const ScriptedResponse cutDashboard = rawBytes(cutHead, R"({"user":)");
    QByteArray padded = dashboardJson({"f2"});
    padded.append(QByteArray(2'000'000 - padded.size(), ' '));
    // clang-format off
    const QList<Row> rows = {
        {"redirect to another port", {reply(307).withHeader("Location",
         "http://127.0.0.1:{elsewhere}/api/usage")}, unavailable, {upload}},
        {"redirect to another host name", {reply(308).withHeader("Location",
         "http://localhost:{port}/api/usage")}, unavailable, {upload}},
        {"redirect to another scheme", {reply(302).withHeader("Location",
         "https://127.0.0.1:{port}/api/usage")}, unavailable, {upload}},
        {"redirect within the origin", {reply(307).withHeader("Location", "/api/usage/v2"),
         okAnswer, board}, "", {upload, "POST /api/usage/v2", dashboardToday}, true, true},
        {"upload answer cut short", {cutUpload}, closed, {upload}, false, false,
         [&](StoreHarness& h) { cutAgain(h, cutUpload); }},
        {"upload answer cut short with the close", {cutUploadAtOnce}, closed, {upload}, false,
         false, [&](StoreHarness& h) { cutAgain(h, cutUploadAtOnce); }},
        {"dashboard cut short", {okAnswer, cutDashboard}, closed, {upload, dashboardToday}, true,
         false, [&](StoreHarness& h) { cutAgain(h, cutDashboard); }},
        {"dashboard over the limit", {okAnswer, rawBytes(okHead + "Content-Length: " +
         QByteArray::number(padded.size()) + "\r\n\r\n", padded)}, tooLarge,
         {upload, dashboardToday}, true},
        {"endless dashboard", {okAnswer, endlessChunks()}, tooLarge, {upload, dashboardToday},
         true},
        {"endless header block", {okAnswer, endlessHeaders()}, "The request timed out.",
         {upload, dashboardToday}, true, false, [](StoreHarness& h) { h.deadline = 700ms; },
         false},
        {"trickled answer", {trickle()}, "The request timed out.", {upload}, false, false,
         [](StoreHarness& h) { h.deadline = 700ms; }},
    };
    // clang-format on

    ScriptedHttpServer elsewhere;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        elsewhere.clearRequests();
        StoreHarness h;
        h.maxAnswerBytes = 1024 * 1024;
        if (row.setup)
            row.setup(h);
        AppStore& store = h.signedInStore();
        store.setDashboard(dashboard({"f1"}));
        int rawAnswers = 0;
        for (const ScriptedResponse& answer : row.answers) {
            h.server.enqueue(located(answer, h.server.port(), elsewhere.port()));
            rawAnswers += answer.action == ScriptedResponse::Action::raw;
        }
        EventLoopProbe probe(5);

        awaitTask(store.refresh(true), 15s);

        EXPECT_LT(probe.longestBusyMs(), 500) << "the event loop was held up";
        EXPECT_FALSE(store.busy());
        EXPECT_EQ(store.error().value_or(QString()), row.error);
        EXPECT_EQ(everyRequest(h.server), row.sent);
        EXPECT_EQ(elsewhere.requestCount(), 0) << "a request left the server's origin";
        for (const RecordedRequest& r : h.server.requests()) {
            EXPECT_EQ(r.header("Authorization"), "Bearer tok-1") << r.path.constData();
            if (r.method == "POST") {
                EXPECT_EQ(parseJsonDocument(r.body).requiredString("deviceId"), store.deviceId());
            }
        }
        EXPECT_EQ(store.lastSynced().has_value(), row.synced);
        EXPECT_EQ(h.telemetry.captures().size(), row.synced ? 1 : 0);
        EXPECT_EQ(store.dashboard(), dashboard(QStringList{row.reloaded ? "f2" : "f1"}));
        // The app hung up on every raw answer: nothing keeps streaming into it, and its
        // next call goes through.
        if (row.hangsUp) {
            // Requests past the scripted answers were Qt's second tries at a cut answer.
            const int ended = rawAnswers + int(h.server.requestCount() - row.answers.size());
            EXPECT_TRUE(waitUntil([&] { return h.server.rawAnswersEnded() == ended; }, 5s));
            h.server.enqueue(reply(200, dashboardJson({"f3"})));
            awaitTask(store.refresh(false), 10s);
            EXPECT_EQ(store.dashboard(), dashboard({"f3"}));
        }
    }
}

// A valid dashboard just under the size limit is read and decoded while the event
// loop goes on turning: the panel never freezes on a big answer.
TEST(HostileServer, ADashboardAtTheSizeLimitLeavesTheMainThreadFree) {
    StoreHarness h;
    AppStore& store = h.signedInStore();
    Dashboard board = dashboard();
    while (board.leaderboard.size() < (maxServerAnswerBytes - 100'000) / 120) {
        const QString id = QStringLiteral("friend-%1").arg(board.leaderboard.size());
        board.leaderboard.append({id, id, false, 123456789, 987654321, 1111111110});
    }
    const qsizetype rows = board.leaderboard.size();
    const QByteArray json = board.toJson();
    ASSERT_LT(json.size(), maxServerAnswerBytes);
    // Not a JSON type, so that the test server does not spend its time compressing it.
    h.server.enqueue(reply(200, json, "application/octet-stream"));
    EventLoopProbe probe(5);

    awaitTask(store.refresh(false), 60s);

    EXPECT_EQ(store.error(), std::nullopt);
    ASSERT_TRUE(store.dashboard().has_value());
    EXPECT_EQ(store.dashboard()->leaderboard.size(), rows);
    // Decoding this on the main thread holds the loop for far longer (seconds in a
    // debug build); the 50 ms target itself is measured by bench/main_thread_answer_bench.
    EXPECT_LT(probe.longestBusyMs(), 250);
    RecordProperty("longest_main_thread_busy_ms", int(probe.longestBusyMs()));
}

// Whether Qt itself notices a close in the middle of a body depends on how the bytes
// and the close fall into its reads; the transport must fail every time.
TEST(HostileServer, EveryBodyCutShortFailsWhateverTheTiming) {
    ScriptedHttpServer server;
    QNetworkAccessManager manager;
    const SendRequest send = networkTransport(&manager);
    // Qt may try once more on a fresh connection: the same cut answer waits there.
    // Qt misses about one close in five that comes 100 ms after the body.
    for (int round = 0; round < 32; ++round) {
        const std::chrono::milliseconds closeAfter = std::array{0ms, 20ms, 100ms, 100ms}[round % 4];
        server.setDefault(rawBytes("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n",
                                   R"({"ok":true})", closeAfter));
        try {
            HttpRequest request;
            request.url = server.url("/cut");
            request.method = "GET";
            awaitTask(send(request, {}), 10s);
            ADD_FAILURE() << "a body cut after " << closeAfter.count() << " ms was taken whole";
        } catch (const NetworkError& error) {
            EXPECT_EQ(error.text(), "Connection closed");
        }
    }
}
