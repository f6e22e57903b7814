#include "app/SingleInstance.h"
#include "async/Background.h"
#include "model/Errors.h"

#include "support/AwaitTask.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
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

// A private folder like $XDG_RUNTIME_DIR.
struct RuntimeDir {
    RuntimeDir() { ::chmod(QFile::encodeName(dir.path()).constData(), 0700); }
    QString path() const { return dir.path(); }
    QTemporaryDir dir;
};

// The client blocks (it is a short-lived second process in real use), so tests
// run it on a background thread while the main loop serves.
std::optional<SingleInstance::Reply> forwardFrom(const QString& folder, InstanceRequest request,
                                                 std::chrono::milliseconds timeout = 3s) {
    return awaitTask(runInBackground([folder, request, timeout](std::stop_token) {
                         SingleInstance client(folder);
                         return client.forward(request, timeout);
                     }),
                     10s);
}

TEST(SingleInstance, SecondProcessHandsItsRequestToTheFirst) {
    RuntimeDir runtime;
    SingleInstance primary(runtime.path());
    ASSERT_EQ(primary.claim(), SingleInstance::Role::Primary);
    primary.listen();
    QList<InstanceRequest> received;
    primary.setHandler([&](const InstanceRequest& request) {
        received.append(request);
        return request.kind == InstanceRequest::Kind::OpenURL ? SingleInstance::Reply::Ignored
                                                              : SingleInstance::Reply::Accepted;
    });

    const auto secondRole = awaitTask(runInBackground([folder = runtime.path()](std::stop_token) {
        SingleInstance second(folder);
        return second.claim();
    }));
    EXPECT_EQ(secondRole, SingleInstance::Role::Secondary);

    // A URL with characters that would break a line protocol arrives unchanged.
    const QString url = QStringLiteral("varno://auth/callback?state=a b&code=x\ny%20");
    EXPECT_EQ(forwardFrom(runtime.path(), {InstanceRequest::Kind::Show, {}}),
              SingleInstance::Reply::Accepted);
    EXPECT_EQ(forwardFrom(runtime.path(), {InstanceRequest::Kind::Toggle, {}}),
              SingleInstance::Reply::Accepted);
    EXPECT_EQ(forwardFrom(runtime.path(), {InstanceRequest::Kind::OpenURL, url}),
              SingleInstance::Reply::Ignored);

    ASSERT_EQ(received.size(), 3);
    EXPECT_EQ(received[0].kind, InstanceRequest::Kind::Show);
    EXPECT_EQ(received[1].kind, InstanceRequest::Kind::Toggle);
    EXPECT_EQ(received[2].kind, InstanceRequest::Kind::OpenURL);
    EXPECT_EQ(received[2].argument, url);

    QFileInfo socket(primary.socketPath());
    EXPECT_TRUE(socket.exists());
    EXPECT_EQ(socket.permissions() &
                  (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
              0);
}

TEST(SingleInstance, RefusesMalformedRequestsWithoutCallingTheHandler) {
    RuntimeDir runtime;
    SingleInstance primary(runtime.path());
    ASSERT_EQ(primary.claim(), SingleInstance::Role::Primary);
    primary.listen();
    int calls = 0;
    primary.setHandler([&](const InstanceRequest&) {
        ++calls;
        return SingleInstance::Reply::Accepted;
    });
    const QByteArray answers =
        awaitTask(runInBackground([path = primary.socketPath()](std::stop_token) {
            QByteArray all;
            for (const QByteArray& line :
                 {QByteArray("explode now\n"), QByteArray("open\n"), QByteArray(64 * 1024, 'x')}) {
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
        }));
    EXPECT_EQ(answers, "ignored\n|ignored\n||");
    EXPECT_EQ(calls, 0);
}

TEST(SingleInstance, ClientGivesUpWhenNobodyAnswers) {
    RuntimeDir runtime;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(forwardFrom(runtime.path(), {InstanceRequest::Kind::Show, {}}, 300ms), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

TEST(SingleInstance, RecoversFromALeftoverSocketAndLockOfACrashedInstance) {
    RuntimeDir runtime;
    SingleInstance probe(runtime.path());
    // A socket file nobody listens on, as a killed process leaves it.
    {
        const QByteArray path = QFile::encodeName(probe.socketPath());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    // And a lock naming a process that has ended.
    {
        QProcess finished;
        finished.start(QStringLiteral("true"));
        ASSERT_TRUE(finished.waitForFinished(5000));
        const qint64 deadPid = finished.processId();
        QFile lock(runtime.path() + QStringLiteral("/varno-%1.lock").arg(::getuid()));
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(deadPid > 0 ? deadPid : 999999) + "\nvarno\n" +
                   QSysInfo::machineHostName().toUtf8() + "\n");
    }

    SingleInstance primary(runtime.path());
    ASSERT_EQ(primary.claim(), SingleInstance::Role::Primary);
    primary.listen();
    bool shown = false;
    primary.setHandler([&](const InstanceRequest&) {
        shown = true;
        return SingleInstance::Reply::Accepted;
    });
    EXPECT_EQ(forwardFrom(runtime.path(), {InstanceRequest::Kind::Show, {}}),
              SingleInstance::Reply::Accepted);
    EXPECT_TRUE(shown);
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
