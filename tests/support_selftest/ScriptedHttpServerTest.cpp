#include "support/ScriptedHttpServer.h"
#include <QThread>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTimer>
#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;
using varno::test::ScriptedHttpServer;
using varno::test::ScriptedResponse;

namespace {

struct Outcome {
    bool finished = false;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QVariant status;
    QByteArray body;
    QMap<QByteArray, QByteArray> headers;
    qint64 elapsedMs = 0;
};

// Starts the request and turns the event loop until it finishes or the timeout passes.
Outcome fetch(QNetworkAccessManager& manager, QNetworkRequest request,
              const QByteArray& verb = "GET", const QByteArray& body = {},
              std::chrono::milliseconds timeout = 10s,
              const std::function<void()>& whileRunning = {}) {
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QNetworkReply> reply(manager.sendCustomRequest(request, verb, body));
    if (whileRunning)
        whileRunning();
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    Outcome out;
    out.finished = reply->isFinished();
    out.elapsedMs = clock.elapsed();
    if (!out.finished) {
        reply->abort();
        return out;
    }
    out.error = reply->error();
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    out.body = reply->readAll();
    for (const auto& [name, value] : reply->rawHeaderPairs())
        out.headers.insert(name.toLower(), value);
    return out;
}

QByteArray gzip(const QByteArray& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(compressBound(data.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = data.size();
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = out.size();
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

} // namespace

TEST(ScriptedHttpServer, AnswersFromTheQueueThenTheHandlerThenTheDefaultAndRecordsEachRequest) {
    ScriptedHttpServer server;
    server.enqueue(
        ScriptedResponse::reply(503, "busy", "text/plain").withHeader("Retry-After", "7"));
    server.enqueue(ScriptedResponse::reply(201, R"({"ok":true})"));
    server.setDefault(ScriptedResponse::reply(418, "teapot", "text/plain"));
    QNetworkAccessManager manager;

    QNetworkRequest request(server.url("/batch/?v=2&x=a%20b"));
    request.setRawHeader("X-Probe", "one");
    request.setRawHeader("Content-Encoding", "gzip");
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    const Outcome first = fetch(manager, request, "POST", gzip(R"({"api_key":"k"})"));
    ASSERT_TRUE(first.finished);
    EXPECT_EQ(first.status.toInt(), 503);
    EXPECT_EQ(first.body, "busy");
    EXPECT_EQ(first.headers.value("retry-after"), "7");

    const Outcome second = fetch(manager, QNetworkRequest(server.url("/a")), "PUT", "plain");
    EXPECT_EQ(second.status.toInt(), 201);
    EXPECT_EQ(second.body, R"({"ok":true})");
    EXPECT_EQ(fetch(manager, QNetworkRequest(server.url("/b")), "DELETE").status.toInt(), 418);
    EXPECT_EQ(fetch(manager, QNetworkRequest(server.url("/c")), "PATCH", "x").status.toInt(), 418);

    server.setHandler([](const varno::test::RecordedRequest& r) {
        return ScriptedResponse::reply(200, r.method + " " + r.path, "text/plain");
    });
    EXPECT_EQ(fetch(manager, QNetworkRequest(server.url("/echo?q=1"))).body, "GET /echo?q=1");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 5);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/batch/?v=2&x=a%20b");
    EXPECT_EQ(requests[0].pathWithoutQuery(), "/batch/");
    EXPECT_EQ(requests[0].header("x-probe"), "one");
    EXPECT_EQ(requests[0].header("Content-Encoding"), "gzip");
    EXPECT_EQ(requests[0].body, R"({"api_key":"k"})"); // inflated by the server
    EXPECT_EQ(requests[1].method, "PUT");
    EXPECT_EQ(requests[1].body, "plain");
    EXPECT_EQ(requests[2].method, "DELETE");
    EXPECT_EQ(requests[3].method, "PATCH");
    EXPECT_FALSE(requests[1].hasHeader("X-Probe"));
}

TEST(ScriptedHttpServer, ClosingAndGarbageEndInANetworkErrorWithoutStatusAndTheServerGoesOn) {
    ScriptedHttpServer server;
    QNetworkAccessManager manager;
    const ScriptedResponse faults[] = {ScriptedResponse::closeConnection(),
                                       ScriptedResponse::garbage()};
    for (const ScriptedResponse& fault : faults) {
        server.setDefault(fault);
        server.clearRequests();
        const Outcome out = fetch(manager, QNetworkRequest(server.url("/batch")), "POST", "{}");
        ASSERT_TRUE(out.finished) << "a non-HTTP answer must not hang the client";
        EXPECT_NE(out.error, QNetworkReply::NoError);
        EXPECT_FALSE(out.status.isValid());
        EXPECT_GE(server.requestCount(), 1);
    }
    server.setDefault(ScriptedResponse::reply(200, "{}"));
    EXPECT_EQ(fetch(manager, QNetworkRequest(server.url("/batch")), "POST", "{}").status.toInt(),
              200);
}

TEST(ScriptedHttpServer, StallsForADelayOrUntilReleasedAndStopEndsEveryStall) {
    ScriptedHttpServer server;
    QNetworkAccessManager manager;

    server.enqueue(ScriptedResponse::reply(200, "late").withDelay(300ms));
    const Outcome delayed = fetch(manager, QNetworkRequest(server.url("/slow")));
    EXPECT_EQ(delayed.body, "late");
    EXPECT_GE(delayed.elapsedMs, 290);

    server.enqueue(ScriptedResponse::reply(200, "released").heldUntilReleased());
    const Outcome held = fetch(manager, QNetworkRequest(server.url("/held")), "GET", {}, 10s, [&] {
        ASSERT_TRUE(server.waitForRequests(2));
        // Still waiting a while later: only release() lets it go.
        QEventLoop pause;
        QTimer::singleShot(200, &pause, &QEventLoop::quit);
        pause.exec();
        EXPECT_EQ(server.stalledCount(), 1);
        server.release();
    });
    EXPECT_EQ(held.body, "released");
    EXPECT_EQ(server.stalledCount(), 0);

    server.setDefault(ScriptedResponse::reply(200, "never").heldUntilReleased());
    QElapsedTimer stopTimer;
    const Outcome cut =
        fetch(manager, QNetworkRequest(server.url("/forever")), "GET", {}, 10s, [&] {
            ASSERT_TRUE(server.waitForRequests(3));
            ASSERT_TRUE(server.waitForRequests(3)); // recorded before it stalls; make sure it did
            for (int i = 0; i < 200 && server.stalledCount() == 0; ++i)
                QThread::msleep(5);
            stopTimer.start();
            server.stop();
        });
    EXPECT_LT(stopTimer.elapsed(), 2000);
    ASSERT_TRUE(cut.finished);
    EXPECT_NE(cut.error, QNetworkReply::NoError);
    EXPECT_NE(cut.body, "never");
}

TEST(ScriptedHttpServer, ServesHttpsWithTheTestCertificateOnlyToClientsThatTrustIt) {
    ScriptedHttpServer server(ScriptedHttpServer::Scheme::https);
    server.setDefault(ScriptedResponse::reply(200, "secure"));
    ASSERT_FALSE(ScriptedHttpServer::certificate().isNull());
    QNetworkAccessManager manager;

    for (const QString& host : {QStringLiteral("127.0.0.1"), QStringLiteral("localhost")}) {
        QUrl url = server.url("/x");
        url.setHost(host);
        QNetworkRequest trusting(url);
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificate(ScriptedHttpServer::certificate());
        trusting.setSslConfiguration(configuration);
        const Outcome ok = fetch(manager, trusting);
        EXPECT_EQ(ok.error, QNetworkReply::NoError) << host.toStdString();
        EXPECT_EQ(ok.body, "secure");
    }

    QNetworkRequest untrusting(server.url("/x"));
    QSslConfiguration strict = QSslConfiguration::defaultConfiguration();
    strict.setCaCertificates(QSslConfiguration::systemCaCertificates());
    untrusting.setSslConfiguration(strict);
    QNetworkAccessManager fresh; // the first manager would reuse its verified connection
    EXPECT_EQ(fetch(fresh, untrusting).error, QNetworkReply::SslHandshakeFailedError);
}
