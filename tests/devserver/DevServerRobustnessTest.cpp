#include "DevServerApi.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <thread>

using namespace varno::test;

namespace {
std::string gzip(const std::string& text) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY),
              Z_OK);
    std::string out(deflateBound(&stream, uLong(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = uInt(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Sends raw bytes on a fresh connection and returns whatever comes back.
std::string rawExchange(int port, const std::string& bytes) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        (void)send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        shutdown(fd, SHUT_WR);
        char buffer[4096];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, size_t(n));
    }
    close(fd);
    return reply;
}
} // namespace

TEST(DevServerRobustness, MalformedRequestsGetJsonErrorsAndNeverBreakTheServer) {
    DevServerProcess server;
    DevServerApi api(server);
    api.createUser("me", "Me");
    const QString token = api.tokenFor("me");

    const struct {
        std::string method, path, body;
        int status;
    } cases[] = {
        {"POST", "/api/usage", "{\"deviceId\":", 400},
        {"POST", "/api/usage", std::string("\xff\xfe{}", 4), 400},
        {"POST", "/api/usage", std::string(100000, '['), 400},
        {"POST", "/api/usage", std::string(5 * 1024 * 1024, ' '), 413},
        {"POST", "/api/auth/exchange", R"({"code":1,"verifier":[]})", 400},
        {"POST", "/api/auth/exchange", "null", 400},
        {"POST", "/dev/users", R"({"name":{"x":1}})", 400},
        {"POST", "/dev/friends", R"({"from":"me","to":"me"})", 400},
        {"POST", "/dev/users", R"({"id":"a/b","name":"Slash"})", 400},
        {"POST", "/dev/friends", R"({"from":"me","to":"ghost"})", 404},
        {"POST", "/batch", R"({"api_key":"k","batch":[1],"sent_at":"t"})", 400},
        {"PUT", "/api/usage", "{}", 405},
        {"DELETE", "/api/dashboard", "{}", 405},
        {"POST", "/api/nothing/here", "{}", 404},
        {"PATCH", "/nowhere", "{}", 404},
    };
    for (const auto& c : cases) {
        const auto answer = api.send(c.method, c.path, c.body, token);
        EXPECT_EQ(answer.status, c.status) << c.method << " " << c.path;
        EXPECT_FALSE(answer.error().isEmpty()) << c.method << " " << c.path << ": " << answer.body;
    }
    EXPECT_EQ(api.get("/api/unknown", token).status, 404);
    EXPECT_EQ(api.get("/api/usage", token).status, 405);

    // A gzip body that inflates far beyond the limit, and one that is not gzip at all.
    const auto bomb = api.send("POST", "/batch", gzip(std::string(64 * 1024 * 1024, ' ')), {},
                               {{"Content-Encoding", "gzip"}});
    EXPECT_EQ(bomb.status, 413);
    EXPECT_EQ(api.send("POST", "/batch", "plain", {}, {{"Content-Encoding", "gzip"}}).status, 400);

    for (const std::string& raw :
         {std::string("NOT HTTP AT ALL\r\n\r\n"),
          std::string("GET /") + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n",
          std::string("POST /api/usage HTTP/1.1\r\nContent-Length: "
                      "100\r\n\r\n{\"dev"),
          std::string("POST /batch HTTP/1.1\r\nTransfer-Encoding: "
                      "chunked\r\n\r\nzz\r\nnope")}) {
        const std::string reply = rawExchange(server.port(), raw);
        if (!reply.empty()) {
            EXPECT_EQ(reply.rfind("HTTP/1.1 4", 0), 0u) << reply.substr(0, 80);
        }
    }

    // Still serving, with its data intact.
    EXPECT_EQ(api.upload(token, "d", {{"codex", "2026-03-01", 5}}).status, 200);
    EXPECT_EQ(api.dashboard(token, "2026-03-01").value("leaderboard").toArray().size(), 1);
    EXPECT_TRUE(server.isRunning());
}

TEST(DevServerRobustness, ConcurrentUploadsLoseNoRows) {
    DevServerProcess server;
    DevServerApi setup(server);
    setup.createUser("me", "Me");
    const QString token = setup.tokenFor("me");

    constexpr int threads = 8, uploadsEach = 12;
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            DevServerApi api(server);
            for (int u = 0; u < uploadsEach; ++u) {
                // Each upload adds one new day of its own device and rewrites an old one.
                std::vector<DevServerApi::Row> rows{
                    {"codex", QDate(2026, 2, 1).addDays(u).toString(Qt::ISODate), 1000 + t},
                    {"claude", "2026-02-01", u + 1}};
                if (api.upload(token, QString("device-%1").arg(t), rows).status != 200)
                    ++failures;
                if (api.get("/api/dashboard?date=2026-03-01", token).status != 200)
                    ++failures;
            }
        });
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(failures.load(), 0);

    const auto me =
        setup.dashboard(token, "2026-03-01").value("leaderboard").toArray()[0].toObject();
    qint64 codex = 0;
    for (int t = 0; t < threads; ++t)
        codex += qint64(uploadsEach) * (1000 + t);
    EXPECT_EQ(me.value("codex").toInteger(), codex);
    EXPECT_EQ(me.value("claude").toInteger(),
              qint64(threads) * uploadsEach); // newest value per device
}

TEST(DevServerAnalytics, SinkKeepsGzipAndPlainBatchesInOrder) {
    DevServerProcess server;
    DevServerApi api(server);
    const auto batch = [](const QString& key, QStringList events) {
        QJsonArray list;
        for (const auto& name : events)
            list.append(QJsonObject{{"event", name}, {"properties", QJsonObject{{"n", 1}}}});
        return QJsonDocument(QJsonObject{{"api_key", key},
                                         {"batch", list},
                                         {"sent_at", "2026-03-01T12:00:00.123Z"}})
            .toJson(QJsonDocument::Compact)
            .toStdString();
    };
    EXPECT_EQ(api.send("POST", "/batch",
                       gzip(batch("k1", {"app_launched", "usage_sync_completed"})), {},
                       {{"Content-Encoding", "gzip"}})
                  .status,
              200);
    EXPECT_EQ(api.send("POST", "/batch", batch("k2", {"third"})).status, 200);
    EXPECT_EQ(api.send("POST", "/batch", gzip(batch("k3", {"fourth"}))).status, 200); // no header
    EXPECT_EQ(api.send("POST", "/batch", R"({"batch":[],"sent_at":"t"})").status, 400);

    const auto events = api.get("/dev/analytics/events").json.value("events").toArray();
    ASSERT_EQ(events.size(), 4);
    const struct {
        const char* name;
        const char* key;
        bool gzipped;
    } expected[] = {{"app_launched", "k1", true},
                    {"usage_sync_completed", "k1", true},
                    {"third", "k2", false},
                    {"fourth", "k3", true}};
    for (int i = 0; i < 4; ++i) {
        const auto entry = events[i].toObject();
        EXPECT_EQ(entry.value("event").toObject().value("event").toString(), expected[i].name);
        EXPECT_EQ(entry.value("event").toObject().value("properties").toObject().value("n").toInt(),
                  1);
        EXPECT_EQ(entry.value("apiKey").toString(), expected[i].key);
        EXPECT_EQ(entry.value("gzipped").toBool(), expected[i].gzipped);
        EXPECT_EQ(entry.value("sentAt").toString(), "2026-03-01T12:00:00.123Z");
    }

    const auto config = api.get("/array/phc_token/config");
    EXPECT_EQ(config.status, 200);
    EXPECT_FALSE(config.json.isEmpty());
    const auto flags = api.send("POST", "/flags?v=2", R"({"api_key":"k","distinct_id":"x"})");
    EXPECT_EQ(flags.status, 200);
    EXPECT_FALSE(flags.json.isEmpty());

    EXPECT_EQ(api.send("DELETE", "/dev/analytics/events", "").status, 200);
    EXPECT_TRUE(api.get("/dev/analytics/events").json.value("events").toArray().isEmpty());
}

TEST(DevServerCommandLine, RefusesBadArgumentsStopsCleanlyAndKeepsAFileDatabase) {
    for (const QStringList& arguments :
         {QStringList{"--port", "abc"}, QStringList{"--port", "70000"},
          QStringList{"--seed", "everything"}, QStringList{"--db"}, QStringList{"--bogus"}}) {
        QProcess process;
        process.start(DevServerProcess::program(), arguments);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(process.readAllStandardError().contains("usage:"));
        EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
    }

    QTemporaryDir dir;
    const QStringList onFile{"--db", dir.filePath("varno.sqlite")};
    {
        DevServerProcess server(DevServerProcess::Seed::none, onFile);
        DevServerApi(server).createUser("kept", "Kept");
        EXPECT_EQ(server.stop(), 0); // SIGTERM is a clean stop
    }
    DevServerProcess again(DevServerProcess::Seed::none, onFile);
    EXPECT_EQ(DevServerApi(again).tokenFor("kept").size(), 64);
}

TEST(DevServerDemo, SeedShowsACircleWithMedalsAnEmDashAndRequests) {
    DevServerProcess server(DevServerProcess::Seed::demo);
    DevServerApi api(server);
    const QString token = api.signIn("demo");
    const auto dashboard = api.dashboard(token, QDate::currentDate().toString(Qt::ISODate));

    EXPECT_EQ(dashboard.value("user").toObject().value("name").toString(), "Ada Lovelace");
    const auto board = dashboard.value("leaderboard").toArray();
    ASSERT_GE(board.size(), 6);
    qint64 previous = std::numeric_limits<qint64>::max();
    int withoutSync = 0, mine = 0;
    for (const auto& value : board) {
        const auto entry = value.toObject();
        const qint64 total = entry.value("total").toInteger();
        EXPECT_LE(total, previous);
        EXPECT_EQ(total, entry.value("codex").toInteger() + entry.value("claude").toInteger());
        previous = total;
        withoutSync += entry.contains("syncedAt") ? 0 : 1;
        mine += entry.value("isMe").toBool() ? 1 : 0;
    }
    EXPECT_EQ(withoutSync, 1);
    EXPECT_EQ(mine, 1);
    // Totals of very different sizes: the top is over a thousand times the smallest non-zero.
    EXPECT_GT(board[0].toObject().value("total").toInteger(), 1'000'000);
    EXPECT_GT(board[0].toObject().value("total").toInteger(),
              1000 * board[board.size() - 2].toObject().value("total").toInteger());

    int incoming = 0, outgoing = 0;
    for (const auto& request : dashboard.value("requests").toArray())
        (request.toObject().value("incoming").toBool() ? incoming : outgoing)++;
    EXPECT_EQ(incoming, 1);
    EXPECT_EQ(outgoing, 1);
    EXPECT_FALSE(dashboard.value("referralCode").toString().isEmpty());
}
