#include "auth/QtKeychainSecretStore.h"
#include "auth/SessionKeychain.h"

#include "support/AwaitTask.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using varno::QtKeychainSecretStore;
using varno::SavedSession;
using varno::SessionKeychain;
using varno::User;
using varno::test::awaitTask;

namespace {

const char* childMarker = "VARNO_SECRET_SERVICE_CHILD";

SavedSession session(const char* token) {
    return SavedSession{QString::fromLatin1(token),
                        User{QStringLiteral("u1"), QStringLiteral("Ann"), QStringLiteral("a@x")},
                        QStringLiteral("https://varno.example")};
}

// Items the Secret Service holds for our service, counted with secret-tool
// (QtKeychain files them under "server" = service, "user" = key).
int storedItems() {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("secret-tool"));
    if (tool.isEmpty())
        return -1;
    QProcess search;
    search.start(tool, {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("server"),
                        SessionKeychain::service});
    if (!search.waitForFinished(10000))
        return -1;
    // One "[/path]" heading per item.
    int count = 0;
    for (const QByteArray& line : search.readAllStandardOutput().split('\n'))
        count += line.startsWith("[/") ? 1 : 0;
    return count;
}

// Runs inside a private D-Bus session with a freshly unlocked gnome-keyring.
void roundTripAgainstTheRunningService() {
    auto store = std::make_shared<QtKeychainSecretStore>(std::chrono::seconds(20));
    EXPECT_EQ(awaitTask(SessionKeychain::read(store)), std::nullopt);

    awaitTask(SessionKeychain::save(store, session("first")));
    EXPECT_EQ(awaitTask(SessionKeychain::read(store)), session("first"));

    awaitTask(SessionKeychain::save(store, session("second")));
    EXPECT_EQ(awaitTask(SessionKeychain::read(store)), session("second"));
    const int items = storedItems();
    if (items >= 0) {
        EXPECT_EQ(items, 1);
    }

    awaitTask(SessionKeychain::remove(store));
    EXPECT_EQ(awaitTask(SessionKeychain::read(store)), std::nullopt);
    awaitTask(SessionKeychain::remove(store)); // already gone: silent
}

} // namespace

TEST(SecretService, SessionRoundTripInARealKeyring) {
    if (qEnvironmentVariableIsSet(childMarker)) {
        roundTripAgainstTheRunningService();
        return;
    }
    const QString dbusRunSession =
        QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
    const QString keyringDaemon =
        QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
    if (dbusRunSession.isEmpty() || keyringDaemon.isEmpty())
        GTEST_SKIP() << "dbus-run-session or gnome-keyring-daemon is not installed "
                        "(scripts/setup installs both)";

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = dir.filePath(QStringLiteral("home"));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    ASSERT_TRUE(QDir().mkpath(home));
    ASSERT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_DATA_HOME", "XDG_CONFIG_HOME",
                             "XDG_CACHE_HOME", "GNOME_KEYRING_CONTROL"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QString::fromLatin1(childMarker), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(
        dbusRunSession,
        {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("printf pw | \"$1\" --unlock --components=secrets >/dev/null && "
                        "exec \"$0\" --gtest_filter=SecretService.SessionRoundTripInARealKeyring"),
         QCoreApplication::applicationFilePath(), keyringDaemon});
    ASSERT_TRUE(child.waitForStarted(10000));
    const bool finished = child.waitForFinished(120000);
    const QString output = QString::fromLocal8Bit(child.readAll());
    if (!finished)
        child.kill();
    ASSERT_TRUE(finished) << "the keyring session did not finish:\n" << output.toStdString();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
}
