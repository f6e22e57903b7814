// SPDX-License-Identifier: MIT
#include "DevServerApi.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace varno::test;

namespace {

const std::string today = "/api/dashboard?date=2026-03-01";

// A connection that sends the start of a request and then nothing more. It must get in
// at once: a server whose accept queue is full drops the connection attempt, and the
// kernel tries again only a second later.
int halfSentRequest(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval halfASecond{0, 500'000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &halfASecond, sizeof halfASecond);
    const bool connected =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    EXPECT_TRUE(connected) << "connecting: " << std::strerror(errno);
    if (connected) {
        const char start[] = "GET /api/dashboard HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
        EXPECT_EQ(::send(fd, start, sizeof start - 1, MSG_NOSIGNAL), ssize_t(sizeof start - 1));
    }
    return fd;
}

// The file as an older server left it: tokens in plain text, readable by everyone.
void writeOldDatabase(const QString& path, const std::string& token) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    const std::string sql =
        "CREATE TABLE users (id TEXT PRIMARY KEY, name TEXT NOT NULL, email TEXT NOT NULL, "
        "avatar_url TEXT, referral_code TEXT, created_at TEXT NOT NULL);"
        "CREATE TABLE sessions (token TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES "
        "users(id), created_at TEXT NOT NULL);"
        "INSERT INTO users VALUES ('old', 'Old', 'old@x.io', NULL, NULL, '2026-01-01T00:00:00Z');"
        "INSERT INTO sessions VALUES ('" +
        token + "', 'old', '2026-01-01T00:00:00Z');";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ::chmod(path.toUtf8().constData(), 0644);
}

} // namespace

// Connections that never finish their request, silent or trickling a header line every
// half second (under the read timeout), do not hold up other clients, and a trickling
// one is dropped at its request's deadline.
TEST(DevServerSafety, HalfSentAndTricklingRequestsDoNotHoldUpOtherClients) {
    DevServerProcess server(DevServerProcess::Seed::none, {"--request-deadline", "2"});
    DevServerApi api(server);
    api.createUser("me", "Me");
    const QString token = api.tokenFor("me");
    std::vector<int> stuck;
    for (int i = 0; i < 100; ++i) // more than the server had workers
        stuck.push_back(halfSentRequest(server.port()));
    const size_t trickling = stuck.size() / 2;
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        for (int line = 0; !done; ++line) {
            const std::string header = "X-Line-" + std::to_string(line) + ": x\r\n";
            for (size_t i = 0; i < trickling; ++i)
                ::send(stuck[i], header.data(), header.size(), MSG_NOSIGNAL);
            for (int wait = 0; wait < 10 && !done; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });

    httplib::Client client(server.host().toStdString(), server.port());
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    for (int i = 0; i < 3; ++i) {
        const auto answer =
            client.Get(today.c_str(), {{"Authorization", "Bearer " + token.toStdString()}});
        ASSERT_TRUE(answer) << "no answer within 5 s: " << httplib::to_string(answer.error());
        EXPECT_EQ(answer->status, 200);
    }

    // Still trickling, every one of them sees its connection end.
    size_t dropped = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    for (size_t i = 0; i < trickling && std::chrono::steady_clock::now() < giveUp;) {
        pollfd entry{stuck[i], POLLIN, 0};
        char byte;
        if (::poll(&entry, 1, 100) > 0 && ::recv(stuck[i], &byte, 1, MSG_DONTWAIT) <= 0) {
            ++dropped;
            ++i;
        }
    }
    EXPECT_EQ(dropped, trickling);
    done = true;
    trickle.join();
    for (int fd : stuck)
        ::close(fd);
}

// The database file is private to the user and holds no token that would open an
// account, also after taking over a file written the old way; sessions survive both.
TEST(DevServerSafety, StoresOnlyHashesOfSessionTokensInAPrivateFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("varno.db");
    const std::string oldToken(64, 'a');
    writeOldDatabase(path, oldToken);

    QString token;
    {
        DevServerProcess server(DevServerProcess::Seed::none, {"--db", path});
        DevServerApi api(server);
        EXPECT_EQ(api.call("GET", today, {}, QString::fromStdString(oldToken)).status, 200);
        api.createUser("me", "Me");
        token = api.tokenFor("me");
        EXPECT_EQ(api.call("GET", today, {}, token).status, 200);
        EXPECT_EQ(server.stop(), 0);
    }
    const QStringList files = QDir(dir.path()).entryList(QDir::Files);
    ASSERT_TRUE(files.contains("varno.db"));
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(modeOf(dir.filePath(name)), 0600);
        const QByteArray bytes = readFile(dir.filePath(name));
        ASSERT_FALSE(bytes.isEmpty());
        EXPECT_FALSE(bytes.contains(token.toLatin1()));
        EXPECT_FALSE(bytes.contains(QByteArray::fromStdString(oldToken)));
    }

    DevServerProcess restarted(DevServerProcess::Seed::none, {"--db", path});
    DevServerApi api(restarted);
    EXPECT_EQ(api.call("GET", today, {}, token).status, 200);
    EXPECT_EQ(api.call("GET", today, {}, QString::fromStdString(oldToken)).status, 200);
    EXPECT_EQ(api.call("GET", today, {}, QString(64, 'b')).status, 401);
}
