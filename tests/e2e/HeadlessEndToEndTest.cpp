// SPDX-License-Identifier: MIT
// Varno on a machine without a desktop: the real varno binary against the real
// development server, with no DISPLAY, no WAYLAND_DISPLAY and no session bus. Signs in
// from the terminal (the callback pasted on standard input), runs the sync service,
// prints the leaderboard and the status, and ends the service on SIGTERM, on a
// session file others can read and when the server signs the machine out.

#include "auth/SessionFile.h"
#include "devserver/DevServerApi.h"
#include "model/Settings.h"

#include "support/AwaitTask.h"
#include "support/Files.h"
#include "support/Programs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace std::chrono_literals;
using namespace varno;
using namespace varno::test;

namespace {

// A machine of its own: home, runtime, config and state folders, nothing of a desktop.
class Machine {
public:
    explicit Machine(const QString& server) {
        QDir().mkpath(dir.filePath("runtime"));
        ::chmod(QFile::encodeName(dir.filePath("runtime")).constData(), 0700);
        env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                 "QT_QPA_PLATFORM", "XDG_STATE_HOME", "FAKE_CODEXBAR_MODE"})
            env.remove(QString::fromLatin1(name));
        env.insert("HOME", dir.filePath("home"));
        env.insert("XDG_RUNTIME_DIR", dir.filePath("runtime"));
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("CODEXBAR_CLI", QStringLiteral(VARNO_TOOL_FAKE_CODEXBAR));
        env.insert("VARNO_DEVELOPMENT", "1");
        env.insert("VARNO_SYNC_INTERVAL_MS", "300");
        sessionPath = dir.filePath("home/.local/state/Varno/session.json");
        QDir().mkpath(dir.filePath("config/Varno"));
        settings().setValue(settings::serverURLKey, server);
    }

    QSettings settings() const {
        return QSettings(dir.filePath("config/Varno/Varno.conf"), QSettings::IniFormat);
    }

    Finished run(const QStringList& arguments, const QByteArray& input = {}) const {
        return runProgram(varnoProgramPath(), arguments, env, input, std::chrono::seconds(30));
    }

    // Starts `varno --headless`; its standard error collects in `log`.
    void startService(QProcess& service, QString& log) const {
        service.setProcessEnvironment(env);
        QObject::connect(&service, &QProcess::readyReadStandardError, &service,
                         [&] { log += QString::fromLocal8Bit(service.readAllStandardError()); });
        service.start(varnoProgramPath(), {"--headless"});
        ASSERT_TRUE(service.waitForStarted(10000));
    }

    std::optional<SavedSession> session() const { return SessionFile(sessionPath).readNow(); }

    QTemporaryDir dir;
    QProcessEnvironment env;
    QString sessionPath;
};

QString today() {
    return QDate::currentDate().toString(Qt::ISODate);
}

bool skipWithoutTools() {
    return varnoProgramPath().isEmpty();
}

} // namespace

TEST(HeadlessEndToEnd, SignInFromATerminalThenSyncAsAService) {
    if (skipWithoutTools())
        GTEST_SKIP() << "needs the varno program";
    DevServerProcess server(DevServerProcess::Seed::demo);
    DevServerApi api(server);
    // The settings name another server: --server wins and is remembered.
    Machine machine(QStringLiteral("https://varno.invalid"));

    // The sign-in prints the page's address; the "browser" is this test, on the
    // development page as the demo user, and the link it ends on is pasted.
    QProcess signIn;
    signIn.setProcessEnvironment(machine.env);
    signIn.start(varnoProgramPath(), {"--sign-in", "--server", server.baseUrl()});
    ASSERT_TRUE(signIn.waitForStarted(10000));
    QString printed, address;
    ASSERT_TRUE(waitUntil(
        [&] {
            printed += QString::fromLocal8Bit(signIn.readAllStandardOutput());
            for (const QString& line : printed.split('\n'))
                if (line.startsWith(server.baseUrl() + "/"))
                    address = line;
            return !address.isEmpty() || signIn.state() == QProcess::NotRunning;
        },
        20s))
        << printed.toStdString();
    ASSERT_FALSE(address.isEmpty())
        << printed.toStdString() << signIn.readAllStandardError().toStdString();
    EXPECT_TRUE(printed.contains("paste here the varno://auth/callback?… link"));
    const QString page = address.mid(server.baseUrl().size());
    const Answer redirect = api.call("GET", (page + "&account=demo").toStdString());
    ASSERT_EQ(redirect.status, 302) << redirect.body;
    signIn.write("\n" + QByteArray::fromStdString(redirect.location) + "\n"); // a stray Enter first
    ASSERT_TRUE(signIn.waitForFinished(30000));
    printed += QString::fromLocal8Bit(signIn.readAllStandardOutput());
    const QString signInErrors = QString::fromLocal8Bit(signIn.readAllStandardError());
    EXPECT_EQ(signIn.exitCode(), 0) << signInErrors.toStdString();
    EXPECT_TRUE(printed.contains("Signed in as Ada Lovelace. Your session is kept in " +
                                 machine.sessionPath + "."))
        << printed.toStdString();
    EXPECT_TRUE(printed.contains("This machine's usage is uploaded."))
        << signInErrors.toStdString();

    // No keyring answered: a private file in a private folder, and the server remembered.
    const std::optional<SavedSession> session = machine.session();
    ASSERT_TRUE(session.has_value());
    EXPECT_EQ(
        (QList<int>{modeOf(machine.sessionPath), modeOf(QFileInfo(machine.sessionPath).path())}),
        (QList<int>{0600, 0700}));
    EXPECT_EQ(session->user.id, "demo");
    EXPECT_EQ(machine.settings().value(settings::serverURLKey).toString(), server.baseUrl());

    // The service uploads at once and keeps going, a line per pass.
    QProcess service;
    QString log;
    machine.startService(service, log);
    ASSERT_TRUE(waitUntil([&] { return log.count("uploaded 60 rows; place ") >= 2; }, 30s))
        << log.toStdString();
    EXPECT_TRUE(log.contains("syncing as Ada Lovelace with " + server.baseUrl()));

    // One Varno per user: neither a second service nor a tray app starts beside it.
    const Finished second = machine.run({"--headless"});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(second.err.contains("Varno is already running as a service (varno --headless, "
                                    "process " +
                                    QString::number(service.processId()) + ")."))
        << second.err.toStdString();
    const Finished tray = machine.run({});
    EXPECT_EQ(tray.exitCode, 1);
    EXPECT_TRUE(tray.err.contains("without a panel")) << tray.err.toStdString();

    // The running service tells --status how its syncing goes.
    const Finished status = machine.run({"--status"});
    EXPECT_EQ(status.exitCode, 0);
    const QString deviceId = machine.settings().value(settings::deviceIdKey).toString();
    for (const QString& line :
         {QStringLiteral("Signed in as Ada Lovelace ("), "Server:      " + server.baseUrl(),
          "Device:      " + deviceId, "Session:     kept in " + machine.sessionPath,
          "Running:     as a service (varno --headless, process " +
              QString::number(service.processId()) + ")",
          QStringLiteral("Last error:  none")})
        EXPECT_TRUE(status.out.contains(line)) << line.toStdString() << "\n"
                                               << status.out.toStdString();
    EXPECT_FALSE(status.out.contains("Last upload: none")) << status.out.toStdString();

    const QJsonObject board = api.dashboard(session->token, today());

    // The leaderboard as the panel shows it: a friend hidden on this machine is left out.
    {
        QSettings settings = machine.settings();
        settings::writeHiddenFriends(settings, {{server.baseUrl() + "\ndemo", {"grace"}}});
    }
    const Finished leaderboard = machine.run({"--leaderboard"});
    EXPECT_EQ(leaderboard.exitCode, 0) << leaderboard.err.toStdString();
    // A heading, then a row per person but the hidden one.
    EXPECT_EQ(leaderboard.out.count('\n'), board["leaderboard"].toArray().size())
        << leaderboard.out.toStdString();
    EXPECT_TRUE(leaderboard.out.contains("Ada Lovelace (you)"));
    EXPECT_FALSE(leaderboard.out.contains("Grace Hopper"));

    // SIGTERM ends it cleanly, in well under the time a pass may take.
    QElapsedTimer stopping;
    stopping.start();
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(service.exitCode(), 0) << log.toStdString();
    EXPECT_LT(stopping.elapsed(), 5000);
}

TEST(HeadlessEndToEnd, EndsWithoutAUsableSessionAndWhenTheServerSignsTheMachineOut) {
    if (skipWithoutTools())
        GTEST_SKIP() << "needs the varno program";
    DevServerProcess server(DevServerProcess::Seed::demo);
    DevServerApi api(server);
    Machine machine(server.baseUrl());

    // No session: the service says what to do, with the status its unit does not
    // restart on; a sign-in whose input ends at once is cancelled and changes nothing.
    const Finished unsigned_ = machine.run({"--headless"});
    EXPECT_EQ(unsigned_.exitCode, 77);
    EXPECT_TRUE(unsigned_.err.contains("run varno --sign-in", Qt::CaseInsensitive))
        << unsigned_.err.toStdString();
    const Finished cancelled = machine.run({"--sign-in"});
    EXPECT_EQ(cancelled.exitCode, 1);
    EXPECT_TRUE(cancelled.err.contains("sign-in cancelled")) << cancelled.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(machine.sessionPath));

    // A session file others can read is refused, with the path and the fix.
    const QString token = api.tokenFor("demo");
    SessionFile(machine.sessionPath)
        .saveNow({token, User{"demo", "Ada Lovelace", "ada@example.com"}, server.baseUrl()});
    ::chmod(QFile::encodeName(machine.sessionPath).constData(), 0644);
    const QString fix = "chmod 600 '" + machine.sessionPath + "'";
    for (const QString& command : {QStringLiteral("--headless"), QStringLiteral("--leaderboard")}) {
        const Finished refused = machine.run({command});
        EXPECT_EQ(refused.exitCode, 77) << command.toStdString();
        EXPECT_TRUE(refused.err.contains("Permissions 0644 for '" + machine.sessionPath +
                                         "' are too open") &&
                    refused.err.contains(fix))
            << refused.err.toStdString();
    }
    ::chmod(QFile::encodeName(machine.sessionPath).constData(), 0600);

    // A pass stuck in CodexBar's tool is cancelled by SIGTERM.
    {
        Machine stuck(server.baseUrl());
        stuck.env.insert("FAKE_CODEXBAR_MODE", "hang");
        SessionFile(stuck.sessionPath)
            .saveNow({token, User{"demo", "Ada Lovelace", "ada@example.com"}, server.baseUrl()});
        QProcess service;
        QString log;
        stuck.startService(service, log);
        ASSERT_TRUE(waitUntil([&] { return log.contains("syncing as"); }, 20s))
            << log.toStdString();
        QElapsedTimer stopping;
        stopping.start();
        service.terminate();
        ASSERT_TRUE(service.waitForFinished(10000));
        EXPECT_EQ(service.exitCode(), 0) << log.toStdString();
        EXPECT_LT(stopping.elapsed(), 5000) << "the tool would have run for 45 s";
    }

    // The server ends the session: the service signs out, deletes the session and
    // stops with the signed-out status.
    QProcess service;
    QString log;
    machine.startService(service, log);
    ASSERT_TRUE(waitUntil([&] { return log.contains("uploaded 60 rows"); }, 30s))
        << log.toStdString();
    ASSERT_EQ(api.call("POST", "/api/auth/logout", "{}", token).status, 200);
    ASSERT_TRUE(service.waitForFinished(30000)) << log.toStdString();
    log += QString::fromLocal8Bit(service.readAllStandardError());
    EXPECT_EQ(service.exitCode(), 77);
    EXPECT_TRUE(log.contains("sync failed: Sign in to Varno again.")) << log.toStdString();
    EXPECT_TRUE(log.contains("the server signed this machine out. Run varno --sign-in"))
        << log.toStdString();
    EXPECT_FALSE(QFileInfo::exists(machine.sessionPath));
}
