// SPDX-License-Identifier: MIT
#include "Support.h"

#include <QSet>
#include <QTimeZone>

#include <thread>
#include <vector>

using namespace varno;
using namespace varno::test;

TEST(UuidV7, CarriesTheMillisecondAndStaysOrderedWithinItAcrossClockStepsAndThreads) {
    std::atomic<std::int64_t> clock{1'700'000'000'123};
    UuidV7 generator([&] { return clock.load(); });
    QString previous = UuidV7::toText(generator.next());
    EXPECT_EQ(previous.left(8) + previous.mid(9, 4), "018bcfe5687b"); // the millisecond
    for (int i = 0; i < 20000; ++i) {
        if (i == 10000)
            clock -= 1000; // the wall clock was set back
        const QString text = UuidV7::toText(generator.next());
        ASSERT_TRUE(isUuidV7(text)) << text.toStdString();
        ASSERT_LT(previous, text) << "at " << i;
        previous = text;
    }

    // Threads sharing one generator get unique ids, each thread's rising.
    std::vector<std::vector<QString>> perThread(4);
    std::vector<std::thread> threads;
    for (auto& ids : perThread)
        threads.emplace_back([&generator, &ids] {
            for (int i = 0; i < 5000; ++i)
                ids.push_back(UuidV7::toText(generator.next()));
        });
    QSet<QString> all;
    for (std::size_t t = 0; t < threads.size(); ++t) {
        threads[t].join();
        EXPECT_TRUE(std::is_sorted(perThread[t].begin(), perThread[t].end()));
        all.unite(QSet<QString>(perThread[t].begin(), perThread[t].end()));
    }
    EXPECT_EQ(all.size(), 20000);
}

TEST(TelemetryEvent, WritesTheWireFormAndReadsItBack) {
    const QDateTime local(QDate(2024, 3, 9), QTime(23, 59, 58, 7), QTimeZone(3600));
    const QUuid id = UuidV7::generate();
    TelemetryEvent event("app_launched", "user-1", {{"nested", QVariantMap{{"a", 3}}}}, local, id);
    event.apiKey = "key";
    EXPECT_EQ(event.toJSON(),
              QJsonObject({{"event", "app_launched"},
                           {"distinct_id", "user-1"},
                           {"properties", QJsonObject{{"nested", QJsonObject{{"a", 3}}}}},
                           {"timestamp", "2024-03-09T22:59:58.007Z"},
                           {"uuid", id.toString(QUuid::WithoutBraces).toLower()},
                           {"api_key", "key"}}));
    const std::optional<TelemetryEvent> back = TelemetryEvent::decode(event.encode());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->toJSON(), event.toJSON());
    EXPECT_EQ(back->timestamp, local);
}

TEST(TelemetryApi, BuildsTheBatchUrlFromTheHostKeepingItsPath) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"https://h.example", "https://h.example/batch"},
        {"https://h.example/ingest/", "https://h.example/ingest/batch"},
        {"https://h.example//ingest//v1", "https://h.example/ingest/v1/batch"},
        {"https://h.example:8443/x?debug=1#frag", "https://h.example:8443/x/batch"},
        {"not a url", ""},
    };
    for (const auto& [host, expected] : cases)
        EXPECT_EQ(TelemetryApi::batchUrl(QUrl(host)).value_or(QUrl()).toString(), expected)
            << host.toStdString();
}

TEST(TelemetryApi, ReadsRetryAfterAsSecondsOrAnHttpDate) {
    const QDateTime now(QDate(2024, 1, 2), QTime(3, 4, 5, 6), Qt::UTC);
    const std::vector<std::pair<QString, std::optional<double>>> cases = {
        {"120", 120.0},
        {"1.5", 1.5},
        {"-1", std::nullopt},
        {"soon", std::nullopt},
        {"inf", std::nullopt},
        {"Tue, 02 Jan 2024 03:05:05 GMT", 59.994},   // a minute ahead
        {"Tue, 02 Jan 2024 04:05:05 +0100", 59.994}, // the same moment with an offset
        {"Mon, 01 Jan 2024 00:00:00 GMT", 0.0},      // in the past
        {"Tue, 32 Jan 2024 03:05:05 GMT", std::nullopt},
        {"2024-01-02T03:05:05Z", std::nullopt},
    };
    for (const auto& [value, expected] : cases) {
        const std::optional<double> parsed = parseRetryAfter(value, now);
        ASSERT_EQ(parsed.has_value(), expected.has_value()) << value.toStdString();
        if (expected) {
            EXPECT_NEAR(*parsed, *expected, 1e-6) << value.toStdString();
        }
    }
}

TEST(TelemetryApi, PostsOneBatchGzippedOrPlainWithItsHeadersAndATenSecondTimeout) {
    ScriptedHttpServer server;
    server.setDefault(ScriptedResponse::reply(200, R"({"status":1})"));
    TelemetryConfig config(" token-1 ", server.url("/ingest/").toString());
    config.requestHeaders = QMap<QString, QString>{{"X-Extra", "yes"}};
    const QDateTime now(QDate(2024, 1, 2), QTime(3, 4, 5, 6), Qt::UTC);
    const QList<TelemetryEvent> events = {makeEvent("first", 1), makeEvent("second", 2)};
    for (const bool gzipFails : {false, true}) {
        SCOPED_TRACE(gzipFails);
        server.clearRequests();
        LineLog log;
        std::chrono::milliseconds timeout{};
        const TelemetryTransport network = telemetryNetworkTransport();
        TelemetryApi::Options options{
            [&](TelemetryHttpRequest request, std::function<void(TelemetryHttpResponse)> done) {
                timeout = request.timeout;
                network(std::move(request), std::move(done));
            },
            [&] { return now; },
            {},
            log.logger()};
        if (gzipFails)
            options.compress = [](const QByteArray&, QString* error) -> std::optional<QByteArray> {
                *error = "out of memory";
                return std::nullopt;
            };
        TelemetryApi api(config, options);
        std::optional<TelemetryUploadInfo> info;
        api.batch(events, [&](TelemetryUploadInfo answer) { info = answer; });
        ASSERT_TRUE(waitUntil([&] { return info.has_value(); }, 15s));
        EXPECT_EQ(info->statusCode, 200);
        EXPECT_FALSE(info->error);
        EXPECT_EQ(timeout, 10s);
        EXPECT_EQ(
            log.contains("Error gzipping the batch body, sending it uncompressed: out of memory"),
            gzipFails);

        ASSERT_EQ(server.requestCount(), 1);
        const RecordedRequest request = server.requests().first();
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, "/ingest/batch");
        // A gzip body that the server could not inflate would have been refused.
        EXPECT_EQ(request.header("Content-Encoding"), gzipFails ? "" : "gzip");
        EXPECT_EQ(request.header("Content-Type"), "application/json; charset=utf-8");
        EXPECT_EQ(request.header("User-Agent"), "varno-telemetry/1.0.0");
        EXPECT_EQ(request.header("Accept-Encoding"), "gzip");
        EXPECT_EQ(request.header("X-Extra"), "yes");
        EXPECT_EQ(QJsonDocument::fromJson(request.body).object(),
                  QJsonObject({{"api_key", "token-1"},
                               {"sent_at", "2024-01-02T03:04:05.006Z"},
                               {"batch", QJsonArray{events[0].toJSON(), events[1].toJSON()}}}));
    }
}
