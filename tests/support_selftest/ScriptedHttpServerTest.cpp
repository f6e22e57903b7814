#include "support/ScriptedHttpServer.h"
#include "support/AwaitTask.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <gtest/gtest.h>

using namespace varno::test;

class ScriptedServer : public ::testing::Test {
protected:
    QNetworkRequest at(const QString& path) const { return QNetworkRequest(server.url(path)); }
    // Sends the request, runs `meanwhile` while it is under way, and waits up to 10 s for the end.
    std::unique_ptr<QNetworkReply> send(const QNetworkRequest& request,
                                        const QByteArray& verb = "GET", const QByteArray& body = {},
                                        const std::function<void()>& meanwhile = {}) {
        std::unique_ptr<QNetworkReply> reply(manager.sendCustomRequest(request, verb, body));
        if (meanwhile)
            meanwhile();
        EXPECT_TRUE(waitUntil([&] { return reply->isFinished(); })) << "the reply hung";
        return reply;
    }

    ScriptedHttpServer server;
    QNetworkAccessManager manager;
};

TEST_F(ScriptedServer, AnswersFromTheQueueThenTheHandlerThenTheDefaultAndRecordsEachRequest) {
    server.enqueue(ScriptedResponse::reply(503, "busy").withHeader("Retry-After", "7"));
    server.setDefault(ScriptedResponse::reply(418, "teapot"));
    QNetworkRequest request = at("/batch/?v=2&x=a%20b");
    request.setRawHeader("X-Probe", "one");
    const auto busy = send(request, "POST", "payload");
    EXPECT_EQ(busy->attribute(QNetworkRequest::HttpStatusCodeAttribute), 503);
    EXPECT_EQ(busy->rawHeader("Retry-After"), "7");
    EXPECT_EQ(send(at("/b"), "DELETE")->readAll(), "teapot");
    server.setHandler(
        [](const RecordedRequest& r) { return ScriptedResponse::reply(200, r.path); });
    server.enqueue(ScriptedResponse::reply(201, "queued"));
    EXPECT_EQ(send(at("/c"), "PUT", "put")->readAll(), "queued");
    EXPECT_EQ(send(at("/echo?q=1"))->readAll(), "/echo?q=1");

    QList<QByteArray> seen; // method, path, body and the probe header of each request
    for (const RecordedRequest& r : server.requests())
        seen << r.method + " " + r.path + " " + r.body + " " + r.header("x-probe");
    EXPECT_EQ(seen, (QList<QByteArray>{"POST /batch/?v=2&x=a%20b payload one", "DELETE /b  ",
                                       "PUT /c put ", "GET /echo?q=1  "}));
}

TEST_F(ScriptedServer, ClosingAndGarbageEndInANetworkErrorWithoutStatusAndTheServerGoesOn) {
    for (const auto& fault : {ScriptedResponse::closeConnection(), ScriptedResponse::garbage()}) {
        server.setDefault(fault);
        server.clearRequests();
        const auto reply = send(at("/batch"), "POST", "{}");
        EXPECT_NE(reply->error(), QNetworkReply::NoError);
        EXPECT_FALSE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid());
        EXPECT_GE(server.requestCount(), 1); // the fault answered a request that did arrive
    }
    server.setDefault(ScriptedResponse::reply(200, "{}"));
    EXPECT_EQ(send(at("/batch"))->readAll(), "{}");
}

TEST_F(ScriptedServer, StallsForADelayOrUntilReleasedAndStopEndsEveryStall) {
    QElapsedTimer clock;
    clock.start();
    server.enqueue(ScriptedResponse::reply(200, "late").withDelay(std::chrono::milliseconds(300)));
    EXPECT_EQ(send(at("/slow"))->readAll(), "late");
    EXPECT_GE(clock.elapsed(), 290);

    const auto stalled = [&] { return waitUntil([&] { return server.stalledCount() == 1; }); };
    server.enqueue(ScriptedResponse::reply(200, "released").heldUntilReleased());
    const auto held = send(at("/held"), "GET", {}, [&] {
        EXPECT_TRUE(stalled());
        server.release();
    });
    EXPECT_EQ(held->readAll(), "released");
    server.setDefault(ScriptedResponse::reply(200, "never").heldUntilReleased());
    const auto cut = send(at("/forever"), "GET", {}, [&] {
        EXPECT_TRUE(stalled());
        clock.restart();
        server.stop();
        EXPECT_LT(clock.elapsed(), 2000);
    });
    EXPECT_NE(cut->error(), QNetworkReply::NoError);
}

TEST_F(ScriptedServer, RawAnswersArriveByteForByteAndEndWhenTheClientOrTheServerGoes) {
    // Exactly what the script writes reaches the client, then the connection closes.
    server.enqueue(ScriptedResponse::rawAnswer([](RawConnection& c) {
        c.write("HTTP/1.1 203 Odd\r\nX-Raw: 1\r\nContent-Length: 5\r\n\r\nhel") && c.write("lo");
    }));
    const auto whole = send(at("/raw"));
    EXPECT_EQ(whole->attribute(QNetworkRequest::HttpStatusCodeAttribute), 203);
    EXPECT_EQ(whole->rawHeader("X-Raw"), "1");
    EXPECT_EQ(whole->readAll(), "hello");
    EXPECT_TRUE(waitUntil([&] { return server.rawAnswersEnded() == 1; }));
    EXPECT_EQ(server.rawBytesWritten(), 54);

    // An endless writer learns that the client hung up. (Qt 6.4 goes on draining a fast
    // stream after abort() unless the reply's read buffer is bounded, as the app's are.)
    const auto endless = [](RawConnection& c) {
        if (c.write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"))
            while (c.write("400\r\n" + QByteArray(0x400, 'x') + "\r\n")) {
            }
    };
    server.enqueue(ScriptedResponse::rawAnswer(endless));
    QNetworkReply* aborted = manager.get(at("/endless"));
    aborted->setReadBufferSize(64 * 1024);
    QObject::connect(aborted, &QNetworkReply::readyRead, aborted, [aborted] {
        aborted->abort();
        aborted->deleteLater();
    });
    EXPECT_TRUE(waitUntil([&] { return server.rawAnswersEnded() == 2; }));

    // One whose client stopped reading is ended by stop(), promptly.
    server.enqueue(ScriptedResponse::rawAnswer(endless));
    std::unique_ptr<QNetworkReply> unread(manager.get(at("/unread")));
    unread->setReadBufferSize(1024); // stop reading once a kilobyte waits
    EXPECT_TRUE(waitUntil([&] { return server.requestCount() == 3; }));
    QElapsedTimer clock;
    clock.start();
    server.stop();
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(server.rawAnswersEnded(), 3);
}

TEST_F(ScriptedServer, ServesHttpsWithTheTestCertificateOnlyToClientsThatTrustIt) {
    ScriptedHttpServer secure(ScriptedHttpServer::Scheme::https);
    secure.setDefault(ScriptedResponse::reply(200, "secure"));
    QNetworkRequest request(secure.url("/x"));
    EXPECT_EQ(send(request)->error(), QNetworkReply::SslHandshakeFailedError);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(ScriptedHttpServer::certificate());
    request.setSslConfiguration(configuration);
    manager.clearConnectionCache(); // start afresh after the refused handshake
    EXPECT_EQ(send(request)->readAll(), "secure");
}
