#include "QueueTestSupport.h"
#include "support/AwaitTask.h"
#include "support/ScriptedHttpServer.h"

#include "analytics/client/TelemetryApi.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace varno;
using namespace varno::test;
using namespace std::chrono_literals;

namespace {

const QDateTime fixedNow(QDate(2024, 1, 2), QTime(3, 4, 5, 6), Qt::UTC);

std::optional<TelemetryUploadInfo> runBatch(const TelemetryApi& api,
                                            const QList<TelemetryEvent>& events) {
    auto result = std::make_shared<std::optional<TelemetryUploadInfo>>();
    api.batch(events, [result](TelemetryUploadInfo info) { *result = std::move(info); });
    waitUntil([&] { return result->has_value(); }, 15s);
    return *result;
}

} // namespace

TEST(TelemetryApi, BuildsTheBatchUrlFromTheHostKeepingItsPath) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"https://h.example", "https://h.example/batch"},
        {"https://h.example/", "https://h.example/batch"},
        {"https://h.example/ingest/", "https://h.example/ingest/batch"},
        {"https://h.example//ingest//v1", "https://h.example/ingest/v1/batch"},
        {"https://h.example:8443/x?debug=1#frag", "https://h.example:8443/x/batch"},
    };
    for (const auto& [host, expected] : cases) {
        const std::optional<QUrl> url = TelemetryApi::batchUrl(QUrl(host));
        ASSERT_TRUE(url) << host.toStdString();
        EXPECT_EQ(url->toString(), expected) << host.toStdString();
    }
    EXPECT_FALSE(TelemetryApi::batchUrl(QUrl("not a url")));
}

TEST(TelemetryApi, ReadsRetryAfterAsSecondsOrAnHttpDate) {
    const std::vector<std::pair<QString, std::optional<double>>> cases = {
        {"120", 120.0},
        {" 5 ", 5.0},
        {"1.5", 1.5},
        {"0", 0.0},
        {"-1", std::nullopt},
        {"soon", std::nullopt},
        {"", std::nullopt},
        {"inf", std::nullopt},
        {"Tue, 02 Jan 2024 03:05:05 GMT", 59.994},   // a minute ahead
        {"Tue, 02 Jan 2024 04:05:05 +0100", 59.994}, // the same moment with an offset
        {"Mon, 01 Jan 2024 00:00:00 GMT", 0.0},      // in the past
        {"Tue, 32 Jan 2024 03:05:05 GMT", std::nullopt},
        {"2024-01-02T03:05:05Z", std::nullopt},
    };
    for (const auto& [value, expected] : cases) {
        const std::optional<double> parsed = parseRetryAfter(value, fixedNow);
        ASSERT_EQ(parsed.has_value(), expected.has_value()) << value.toStdString();
        if (expected) {
            EXPECT_NEAR(*parsed, *expected, 1e-6) << value.toStdString();
        }
    }
}

TEST(TelemetryApi, SendsOneGzipBatchWithTheHeadersAndThreeMembers) {
    ScriptedHttpServer server;
    server.setDefault(ScriptedResponse::reply(200, R"({"status":1})"));
    TelemetryConfig config(" token-1 ", server.url("/ingest/").toString());
    config.requestHeaders = QMap<QString, QString>{{"X-Extra", "yes"}};
    TelemetryApi api(config, {{}, [] { return fixedNow; }, {}, {}});
    const QList<TelemetryEvent> events = {makeEvent("first", 1), makeEvent("second", 2)};

    const auto info = runBatch(api, events);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->statusCode, 200);
    EXPECT_FALSE(info->error);
    ASSERT_EQ(server.requestCount(), 1);
    const RecordedRequest request = server.requests().first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/ingest/batch");
    EXPECT_EQ(request.header("Content-Encoding"), "gzip"); // the server inflated it, so it was gzip
    EXPECT_EQ(request.header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(request.header("User-Agent"), "varno-telemetry/1.0.0");
    EXPECT_EQ(request.header("Accept-Encoding"), "gzip");
    EXPECT_EQ(request.header("X-Extra"), "yes");

    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    EXPECT_EQ(body.keys(), (QStringList{"api_key", "batch", "sent_at"}));
    EXPECT_EQ(body["api_key"].toString(), "token-1");
    EXPECT_EQ(body["sent_at"].toString(), "2024-01-02T03:04:05.006Z");
    const QJsonArray batch = body["batch"].toArray();
    ASSERT_EQ(batch.size(), 2);
    EXPECT_EQ(batch[0].toObject(), events[0].toJSON());
    EXPECT_EQ(batch[1].toObject(), events[1].toJSON());

    // The compression itself: a gzip stream (magic bytes) that inflates back.
    const QByteArray json = QJsonDocument(body).toJson();
    const std::optional<QByteArray> packed = gzipCompress(json);
    ASSERT_TRUE(packed);
    EXPECT_TRUE(packed->startsWith("\x1f\x8b"));
    EXPECT_EQ(gunzip(*packed), json);
}

TEST(TelemetryApi, FallsBackToAnUncompressedBodyAndAsksForATenSecondTimeout) {
    std::optional<TelemetryHttpRequest> sent;
    TelemetryApi::Options options;
    options.transport = [&](TelemetryHttpRequest request,
                            std::function<void(TelemetryHttpResponse)> done) {
        sent = request;
        done({204, {}, {}, std::nullopt});
    };
    options.compress = [](const QByteArray&, QString* error) -> std::optional<QByteArray> {
        *error = "out of memory";
        return std::nullopt;
    };
    LogCapture log;
    options.log = log.logger();
    TelemetryApi api(testConfig(), options);
    const auto info = runBatch(api, {makeEvent("e")});
    ASSERT_TRUE(sent);
    EXPECT_EQ(info->statusCode, 204);
    EXPECT_FALSE(sent->header("Content-Encoding").size());
    EXPECT_TRUE(QJsonDocument::fromJson(sent->body).isObject());
    EXPECT_EQ(sent->timeout, 10s);
    EXPECT_EQ(sent->url.toString(), "https://ingest.example/batch");
    EXPECT_TRUE(
        log.contains("Error gzipping the batch body, sending it uncompressed: out of memory"));
}

TEST(TelemetryApi, TurnsEachKindOfAnswerIntoAnUploadInfo) {
    ScriptedHttpServer server;
    TelemetryApi api(testConfig(server.url("/").toString()), {{}, [] { return fixedNow; }, {}, {}});
    struct Case {
        const char* name;
        ScriptedResponse response;
        std::optional<int> status;
        bool error;
        std::optional<double> retryAfter;
    };
    const std::vector<Case> cases = {
        {"success", ScriptedResponse::reply(200, "{}"), 200, false, std::nullopt},
        {"unavailable",
         ScriptedResponse::reply(503, "busy", "text/plain").withHeader("Retry-After", "7"), 503,
         false, 7.0},
        {"too many",
         ScriptedResponse::reply(429, "{}").withHeader("Retry-After",
                                                       "Tue, 02 Jan 2024 03:05:05 GMT"),
         429, false, 59.994},
        {"bad request", ScriptedResponse::reply(400, R"({"error":"bad"})"), 400, false,
         std::nullopt},
        {"too large", ScriptedResponse::reply(413, ""), 413, false, std::nullopt},
        {"garbage", ScriptedResponse::garbage(), std::nullopt, true, std::nullopt},
        {"nothing", ScriptedResponse::closeConnection(), std::nullopt, true, std::nullopt},
    };
    for (const Case& c : cases) {
        server.setDefault(c.response);
        const auto info = runBatch(api, {makeEvent("e")});
        ASSERT_TRUE(info) << c.name;
        EXPECT_EQ(info->statusCode, c.status) << c.name;
        EXPECT_EQ(info->error.has_value(), c.error) << c.name;
        ASSERT_EQ(info->retryAfter.has_value(), c.retryAfter.has_value()) << c.name;
        if (c.retryAfter) {
            EXPECT_NEAR(*info->retryAfter, *c.retryAfter, 1e-6) << c.name;
        }
    }
}
