// SPDX-License-Identifier: MIT
#include "app/SingleInstance.h"
#include "async/Background.h"
#include "model/Errors.h"

#include "support/AwaitTask.h"
#include "support/ScopedEnvironment.h"

#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;
using varno::test::awaitTask;

namespace varno {
namespace {

// The client blocks (it is a short-lived second process in real use), so tests
// run it on a background thread while the main loop serves.
template <typename F> auto inBackground(F run) {
    return awaitTask(runInBackground([run](std::stop_token) { return run(); }), 10s);
}

std::optional<SingleInstance::Reply> forward(const QString& folder, InstanceRequest request,
                                             std::chrono::milliseconds timeout = 3s) {
    return inBackground([=] { return SingleInstance(folder).forward(request, timeout); });
}

TEST(SingleInstance, SecondProcessHandsItsRequestToTheFirst) {
    for (const bool staleSocket : {false, true}) {
        SCOPED_TRACE(staleSocket ? "after a crash" : "clean start");
        QTemporaryDir runtime; // private, like $XDG_RUNTIME_DIR
        ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
        EXPECT_EQ(forward(runtime.path(), {InstanceRequest::Kind::Show, {}}, 300ms), std::nullopt)
            << "nobody answers yet";
        SingleInstance primary(runtime.path());
        if (staleSocket) {
            // A socket file nobody listens on, as a killed process leaves it.
            const QByteArray path = QFile::encodeName(primary.socketPath());
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
            ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::close(fd);
        }
        ASSERT_EQ(primary.claim(), SingleInstance::Role::Primary);
        primary.listen();
        QList<InstanceRequest> received;
        primary.setHandler([&](const InstanceRequest& request) {
            received.append(request);
            return request.kind == InstanceRequest::Kind::OpenURL ? SingleInstance::Reply::Ignored
                                                                  : SingleInstance::Reply::Accepted;
        });
        EXPECT_EQ(inBackground([&] { return SingleInstance(runtime.path()).claim(); }),
                  SingleInstance::Role::Secondary);

        // A URL with characters that would break a line protocol arrives unchanged.
        const QString url = QStringLiteral("varno://auth/callback?state=a b&code=x\ny%20");
        EXPECT_EQ(forward(runtime.path(), {InstanceRequest::Kind::Toggle, {}}),
                  SingleInstance::Reply::Accepted);
        EXPECT_EQ(forward(runtime.path(), {InstanceRequest::Kind::OpenURL, url}),
                  SingleInstance::Reply::Ignored);
        ASSERT_EQ(received.size(), 2);
        EXPECT_EQ(received[0].kind, InstanceRequest::Kind::Toggle);
        EXPECT_EQ(received[1].kind, InstanceRequest::Kind::OpenURL);
        EXPECT_EQ(received[1].argument, url);

        // The status comes back whole, line breaks and all, and reaches no handler.
        const QByteArray status = "{\"mode\":\"tray\",\n\"lastError\":\"a%b\"}";
        primary.setStatusSource([&] { return status; });
        EXPECT_EQ(inBackground([&] { return SingleInstance(runtime.path()).askStatus(); }), status);
        EXPECT_EQ(received.size(), 2);
        EXPECT_EQ(QFileInfo(primary.socketPath()).permissions() &
                      (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
                  0);

        // Long requests arrive whole up to the limit; one byte more and nothing of
        // them is used. A reserved character takes three bytes once encoded.
        const qsizetype limit = InstanceRequest::maxEncodedSize;
        const QString prefix = QStringLiteral("varno://auth/callback?state=s&pad=");
        const QString second = QStringLiteral("&state=x"); // past the old cut at 16 KiB
        const auto longURL = [&](qsizetype encodedSize) {
            const qsizetype left =
                encodedSize -
                InstanceRequest{InstanceRequest::Kind::OpenURL, prefix + second}.encode().size();
            return prefix + QString(left % 3, u'a') + QString(left / 3, u'/') + second;
        };
        for (const qsizetype size : {qsizetype(20 * 1024), limit, limit + 1}) {
            SCOPED_TRACE(size);
            const InstanceRequest request{InstanceRequest::Kind::OpenURL, longURL(size)};
            ASSERT_EQ(request.encode().size(), size);
            const qsizetype before = received.size();
            EXPECT_EQ(forward(runtime.path(), request), size <= limit
                                                            ? SingleInstance::Reply::Ignored
                                                            : SingleInstance::Reply::TooLong);
            EXPECT_EQ(received.size(), before + (size <= limit ? 1 : 0));
            if (size <= limit) {
                EXPECT_EQ(received.last().argument.toStdString(), request.argument.toStdString());
            }
        }
        received.clear();

        // Garbage, a command without its argument and lines over the limit, with or
        // without their end, reach no handler.
        const QByteArray answers = inBackground([path = primary.socketPath(), limit] {
            QByteArray all;
            for (const QByteArray& line :
                 {QByteArray("explode now\n"), QByteArray("open\n"), QByteArray(limit, 'x'),
                  "open varno://auth/callback?state=s" + QByteArray(limit, 'x') + "\n"}) {
                QLocalSocket socket;
                socket.connectToServer(path);
                if (!socket.waitForConnected(2000))
                    return QByteArray("no connection");
                socket.write(line);
                socket.waitForBytesWritten(2000);
                while (socket.waitForReadyRead(2000))
                    ;
                all += socket.readAll() + '|';
            }
            return all;
        });
        EXPECT_EQ(answers, "ignored\n|ignored\n|too-long\n|too-long\n|");
        EXPECT_TRUE(received.isEmpty());
    }
}

TEST(SingleInstance, DefaultFolderIsTheRuntimeFolderOrOneUnderTheTemporaryFolder) {
    const test::ScopedEnvironment runtimeDir("XDG_RUNTIME_DIR"), tmpDir("TMPDIR");
    QTemporaryDir dir;
    const QString runtime = dir.filePath("runtime"), temporary = dir.filePath("tmp");
    QDir().mkpath(runtime);
    QDir().mkpath(temporary);
    const QString user = QStringLiteral("/varno-%1").arg(::getuid());
    const struct {
        QString runtime, temporary, expected;
    } cases[] = {
        {runtime, temporary, QFileInfo(temporary).canonicalFilePath() + user}, // not private
        {dir.filePath("gone"), temporary, QFileInfo(temporary).canonicalFilePath() + user},
        {QString(), dir.filePath("gone"), "/tmp" + user}, // never a folder at the root
    };
    for (const auto& c : cases) {
        runtimeDir.set(c.runtime.toLocal8Bit());
        tmpDir.set(c.temporary.toLocal8Bit());
        EXPECT_EQ(SingleInstance::defaultDirectory().toStdString(), c.expected.toStdString());
    }
    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    runtimeDir.set(runtime.toLocal8Bit());
    EXPECT_EQ(SingleInstance::defaultDirectory().toStdString(), runtime.toStdString());
}

TEST(SingleInstance, UsesOnlyAPrivateFolder) {
    QTemporaryDir shared;
    ::chmod(QFile::encodeName(shared.path()).constData(), 0777);
    EXPECT_THROW(SingleInstance(shared.path()).claim(), AppError);

    // A missing folder is made, for this user only.
    const QString folder = shared.filePath(QStringLiteral("varno-runtime"));
    SingleInstance instance(folder);
    EXPECT_EQ(instance.claim(), SingleInstance::Role::Primary);
    instance.listen();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

} // namespace
} // namespace varno
