// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryApi.h"
#include "net/NetworkError.h"
#include "store/HttpTransport.h"
#include "support/AwaitTask.h"
#include "support/RecordingProxy.h"
#include "support/ScopedEnvironment.h"
#include "support/ScriptedHttpServer.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <cstdlib>

namespace varno::test {
namespace {

using namespace std::chrono_literals;

// What a caller got back from one exchange.
struct Outcome {
    std::optional<int> status;
    QString error; // empty: a whole answer
    qsizetype bodyBytes = 0;
};

// The two callers of the network core, each with its own configuration.
struct Caller {
    const char* name;
    qint64 cap;
    std::function<Outcome(const QUrl&, const TransferEnvironment&)> send;
};

Outcome viaServerClient(const QUrl& url, const TransferEnvironment& environment) {
    HttpRequest request;
    request.url = url;
    request.method = "GET";
    try {
        const HttpResponse answer = awaitTask(networkTransport(environment)(request, {}), 30s);
        return {
            answer.isHttp ? std::optional(answer.status) : std::nullopt, {}, answer.body.size()};
    } catch (const NetworkError& error) {
        return {error.status() ? std::optional(error.status()) : std::nullopt, error.text()};
    }
}

Outcome viaAnalytics(const QUrl& url, const TransferEnvironment& environment) {
    TelemetryHttpRequest request;
    request.url = url;
    request.body = "{}";
    std::optional<TelemetryHttpResponse> answer;
    std::mutex lock;
    telemetryNetworkTransport(environment)(request, [&](TelemetryHttpResponse r) {
        std::lock_guard guard(lock);
        answer = std::move(r);
    });
    const bool done = waitUntil(
        [&] {
            std::lock_guard guard(lock);
            return answer.has_value();
        },
        30s);
    if (!done)
        return {std::nullopt, "no completion"};
    std::lock_guard guard(lock);
    return {answer->statusCode, answer->transportError.value_or(QString()), answer->body.size()};
}

const QList<Caller>& callers() {
    static const QList<Caller> all = {
        {"server", maxServerAnswerBytes, viaServerClient},
        {"analytics", maxTelemetryAnswerBytes, viaAnalytics},
    };
    return all;
}

QString tooLarge(qint64 cap) {
    return QStringLiteral("The server's answer is larger than %1 MB.").arg(cap / (1024 * 1024));
}

// Head, then the script, then the close.
ScriptedResponse raw(QByteArray head, std::function<void(RawConnection&)> then = {}) {
    return ScriptedResponse::rawAnswer([head, then](RawConnection& c) {
        if (c.write(head) && then)
            then(c);
    });
}

// Bytes, then the close at once or after a pause.
ScriptedResponse cut(QByteArray bytes, std::chrono::milliseconds closeAfter) {
    return raw(bytes, [closeAfter](RawConnection& c) {
        if (closeAfter > 0ms)
            c.pause(closeAfter);
    });
}

const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
const QByteArray chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";

// What the kernel's socket buffers on loopback can hold between the two ends: bytes
// the server wrote that the client never read.
constexpr qint64 socketBuffers = 12 * 1024 * 1024;

// Every way an answer can be broken, too big or hostile, through both callers of the
// network core: each ends in the caller's own error, with bounded memory, and the core
// reads no further than its cap.
TEST(HostileAnswer, EveryBrokenOrOversizedAnswerFailsThroughEveryCaller) {
    struct Row {
        std::string name;
        ScriptedResponse answer;
        // The expected error; "{cap}" stands for the caller's size message.
        QString error;
        bool boundsWriter = false; // the server's bytes are counted against the cap
    };
    const QByteArray bomb = *gzipCompress(QByteArray(20 * 1024 * 1024, '0'));
    QList<Row> rows = {
        {"header line that never ends",
         raw(ok + "X-Long: ",
             [](RawConnection& c) {
                 while (c.write(QByteArray(16 * 1024, 'x'))) {
                 }
             }),
         "The server's answer has headers that are too large.", true},
        {"17 MB of headers before a valid body",
         raw(ok,
             [](RawConnection& c) {
                 const QByteArray line = "X-Filler: " + QByteArray(88, 'x') + "\r\n";
                 QByteArray block;
                 for (int i = 0; i < 1000; ++i)
                     block += line;
                 for (int i = 0; i < 170; ++i)
                     if (!c.write(block))
                         return;
                 c.write("Content-Length: 2\r\n\r\n{}");
             }),
         "The server's answer has headers that are too large.", true},
        {"decompression bomb",
         raw(ok + "Content-Encoding: gzip\r\nContent-Length: " + QByteArray::number(bomb.size()) +
             "\r\n\r\n" + bomb),
         "{cap}"},
        {"endless answer",
         raw(chunked,
             [](RawConnection& c) {
                 while (c.write("4000\r\n" + QByteArray(0x4000, 'x') + "\r\n")) {
                 }
             }),
         "{cap}", true},
        {"corrupt gzip",
         raw(ok + "Content-Encoding: gzip\r\nContent-Length: 12\r\n\r\nnot gzip at"),
         "The server's answer could not be read."},
        {"a length over the cap announced, then a short body",
         raw(ok + "Content-Length: 4294967296\r\n\r\n{}"), "{cap}"},
    };
    for (const auto closeAfter : {0ms, 200ms, 1000ms}) {
        const std::string when =
            closeAfter == 0ms ? "at once" : std::to_string(closeAfter.count()) + " ms later";
        rows.append({"chunk cut in the middle, close " + when,
                     cut(chunked + "b\r\n{\"ok\":", closeAfter), "Connection closed"});
        rows.append({"cut after a whole chunk, close " + when,
                     cut(chunked + "b\r\n{\"ok\":true}\r\n", closeAfter), "Connection closed"});
        rows.append({"length-delimited body cut short, close " + when,
                     cut(ok + "Content-Length: 100\r\n\r\n{\"ok\":true}", closeAfter),
                     "Connection closed"});
    }

    for (const Caller& caller : callers()) {
        for (const Row& row : rows) {
            SCOPED_TRACE(caller.name + (": " + row.name));
            ScriptedHttpServer server;
            server.setDefault(row.answer);

            const Outcome outcome = caller.send(server.url("/x"), {});

            EXPECT_EQ(outcome.error, QString(row.error).replace("{cap}", tooLarge(caller.cap)));
            EXPECT_LE(outcome.bodyBytes, caller.cap);
            EXPECT_EQ(server.requestCount(), 1) << "nothing is sent twice";
            // The core hung up: the server's writer ends, having written no more than the
            // cap and what the sockets hold.
            EXPECT_TRUE(waitUntil([&] { return server.rawAnswersEnded() == 1; }, 10s));
            if (row.boundsWriter) {
                EXPECT_LE(server.rawBytesWritten(), caller.cap + socketBuffers);
            }
        }
    }
}

// What each caller is configured with: the server's requests follow a redirect within
// their origin and take answers up to 16 MB; analytics uploads follow none and stop at
// 1 MB. Neither keeps cookies, and a refused connection names the server.
TEST(HostileAnswer, EachCallerAppliesItsOwnConfiguration) {
    ScriptedHttpServer server;
    ScriptedHttpServer elsewhere;
    const QByteArray big(1536 * 1024, ' ');
    QByteArray cookies = "Set-Cookie: small=1\r\n";
    for (int i = 0; i < 25; ++i)
        cookies += "Set-Cookie: c" + QByteArray::number(i) + "=" + QByteArray(4000, 'v') + "\r\n";
    struct Expect {
        Outcome sameOrigin, otherOrigin, large;
    };
    const QList<Expect> expected = {
        {{200, {}, 2}, {307, {}, 0}, {200, {}, big.size()}},
        {{307, {}, 0}, {307, {}, 0}, {200, tooLarge(maxTelemetryAnswerBytes), 0}},
    };
    const QByteArray away = elsewhere.url("/x").toEncoded();
    server.setHandler([&](const RecordedRequest& r) {
        const QByteArray path = r.pathWithoutQuery();
        if (path == "/x")
            return ScriptedResponse::reply(307).withHeader("Location", "/moved");
        if (path == "/away")
            return ScriptedResponse::reply(307).withHeader("Location", away);
        if (path == "/big")
            return ScriptedResponse::reply(200, big, "application/octet-stream");
        if (path == "/cookies") // and on, within the origin
            return cut("HTTP/1.1 307 Temporary Redirect\r\nLocation: /after\r\n" + cookies +
                           "Content-Length: 2\r\n\r\n{}",
                       0ms);
        return ScriptedResponse::reply(200, "{}");
    });
    for (qsizetype i = 0; i < callers().size(); ++i) {
        const Caller& caller = callers()[i];
        SCOPED_TRACE(caller.name);
        const Outcome same = caller.send(server.url("/x"), {});
        EXPECT_EQ(same.status, expected[i].sameOrigin.status);
        EXPECT_EQ(same.bodyBytes, expected[i].sameOrigin.bodyBytes);
        const Outcome other = caller.send(server.url("/away"), {});
        EXPECT_EQ(other.status, expected[i].otherOrigin.status);
        EXPECT_EQ(elsewhere.requestCount(), 0) << "a request left its origin";
        const Outcome large = caller.send(server.url("/big"), {});
        EXPECT_EQ(large.error, expected[i].large.error);
        EXPECT_EQ(large.bodyBytes, expected[i].large.bodyBytes);

        EXPECT_EQ(caller.send(server.url("/cookies"), {}).error, QString());
        for (const RecordedRequest& request : server.requests())
            EXPECT_TRUE(request.header("Cookie").isNull()) << request.path.toStdString();

        QUrl refused = server.url("/x");
        {
            ScriptedHttpServer gone;
            refused.setPort(gone.port());
        }
        EXPECT_EQ(caller.send(refused, {}).error, "Could not connect to the server at 127.0.0.1.");
    }
}

// A stop of the caller's task ends a transfer that is waiting for an answer, long before
// any of its time limits.
TEST(HostileAnswer, AStopEndsATransferThatWaits) {
    ScriptedHttpServer server;
    server.setDefault(ScriptedResponse::reply(200, "{}").heldUntilReleased());
    std::stop_source stop;
    HttpRequest request;
    request.url = server.url("/held");
    request.method = "GET";
    QCoro::Task<HttpResponse> waiting = networkTransport()(request, stop.get_token());
    ASSERT_TRUE(server.waitForRequests(1));
    stop.request_stop();
    try {
        awaitTask(std::move(waiting), 5s);
        ADD_FAILURE() << "an answer came";
    } catch (const NetworkError& error) {
        EXPECT_TRUE(error.isCancelled());
    }
    server.release();
}

// The standard proxy variables hold for a server that is not on this machine's
// loopback (a test name resolved to it): the request goes through the proxy, and a
// host named in no_proxy goes straight. A certificate the system does not trust is
// reported as such.
TEST(HostileAnswer, ProxiesFromTheEnvironmentAndCertificatesAreHonoured) {
    ScriptedHttpServer server(ScriptedHttpServer::Scheme::https);
    server.setDefault(ScriptedResponse::reply(200, "{}"));
    RecordingProxy proxy;
    const QByteArray port = QByteArray::number(server.port());
    TransferEnvironment environment;
    environment.caBundle = ScriptedHttpServer::certificatePath();
    environment.resolve = {"varno.test:" + port + ":127.0.0.1",
                           "bypass.varno.test:" + port + ":127.0.0.1"};
    const QByteArray proxyUrl = "http://127.0.0.1:" + QByteArray::number(proxy.port());
    const ScopedEnvironment httpsProxy("https_proxy", proxyUrl);
    const ScopedEnvironment noProxy("no_proxy", "bypass.varno.test");
    for (const Caller& caller : callers()) {
        SCOPED_TRACE(caller.name);
        server.clearRequests();
        const QByteArrayList before = proxy.targets();

        EXPECT_EQ(caller.send(QUrl("https://varno.test:" + port + "/x"), environment).error,
                  QString());
        EXPECT_EQ(proxy.targets().mid(before.size()), QByteArrayList{"varno.test:" + port});
        EXPECT_EQ(caller.send(QUrl("https://bypass.varno.test:" + port + "/x"), environment).error,
                  QString());
        EXPECT_EQ(proxy.targets().size(), before.size() + 1) << "no_proxy was not honoured";
        EXPECT_EQ(server.requestCount(), 2);

        TransferEnvironment untrusted = environment;
        untrusted.caBundle.clear();
        EXPECT_EQ(caller.send(QUrl("https://bypass.varno.test:" + port + "/x"), untrusted).error,
                  "The certificate of the server at bypass.varno.test is not trusted.");
    }
}

} // namespace
} // namespace varno::test
