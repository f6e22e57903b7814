// SPDX-License-Identifier: MIT
// Starts the real varno binary against the real development server, on an X server
// with a tray host, signs in through a stand-in browser that hands the varno://
// callback to a second varno process, checks what the server and the Secret Service
// end up holding, and quits it with its panel and friends sheet open.

#include "auth/QtKeychainSecretStore.h"
#include "auth/SessionKeychain.h"

#include "support/AwaitTask.h"
#include "support/ChildRun.h"
#include "support/DevServerProcess.h"
#include "support/Files.h"
#include "support/Programs.h"
#include "support/VirtualDisplay.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using varno::test::waitUntil;

namespace {

const QString varnoProgram = varno::test::varnoProgramPath();

using varno::test::runProgram;

QJsonObject curlJson(const QStringList& arguments) {
    return QJsonDocument::fromJson(
               runProgram(QStringLiteral("curl"), QStringList{"-s"} + arguments).out.toUtf8())
        .object();
}

// The demo user's row on the server, as a friend of theirs would see it.
QJsonObject demoRow(const QString& base, const QString& token) {
    const QJsonObject dashboard =
        curlJson({"-H", "Authorization: Bearer " + token,
                  base + "/api/dashboard?date=" + QDate::currentDate().toString(Qt::ISODate)});
    for (const auto& row : dashboard.value("leaderboard").toArray())
        if (row.toObject().value("id").toString() == QLatin1String("demo"))
            return row.toObject();
    return {};
}

// Runs inside a private D-Bus session with an unlocked gnome-keyring.
void signInThroughTheBrowser() {
    varno::test::DevServerProcess server(varno::test::DevServerProcess::Seed::demo);
    QTemporaryDir dir;
    ASSERT_TRUE(varno::test::writeFile(dir.filePath("config/Varno/Varno.conf"),
                                       "[General]\nserverURL=" + server.baseUrl().toUtf8() + "\n"));

    // The stand-in browser: follows the development page as the user "demo" would
    // and opens the varno:// address it redirects to, as a desktop does.
    const QString browserLog = dir.filePath("browser.log");
    const QString browser = dir.filePath("browser");
    ASSERT_TRUE(varno::test::writeFile(
        browser, QStringLiteral("#!/bin/sh\n"
                                "location=$(curl -s -o /dev/null -D - \"$1&account=demo\" | "
                                "tr -d '\\r' | sed -n 's/^[Ll]ocation: //p')\n"
                                "echo \"$location\" >> '%1'\n"
                                "exec '%2' \"$location\"\n")
                     .arg(browserLog, varnoProgram)
                     .toUtf8()));
    QFile::setPermissions(browser, QFile::ReadOwner | QFile::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_DATA_HOME", dir.filePath("data"));
    env.insert("CODEXBAR_CLI", QStringLiteral(VARNO_TOOL_FAKE_CODEXBAR));
    env.insert("VARNO_BROWSER", browser);
    env.insert("VARNO_DEVELOPMENT", "1");
    // On the X server the parent started, with a tray host: the tray icon's window is
    // one of those that quitting has to close.
    env.insert("DISPLAY", qEnvironmentVariable("VARNO_E2E_DISPLAY"));
    env.insert("QT_QPA_PLATFORM", "xcb");
    const QString startupReport = dir.filePath("startup");
    env.insert("VARNO_STARTUP_REPORT", startupReport);

    // The demo account comes with an older upload; ours replaces its time.
    const QString devToken = curlJson({"-X", "POST", "-H", "Content-Type: application/json", "-d",
                                       R"({"userId":"demo"})", server.baseUrl() + "/dev/sessions"})
                                 .value("token")
                                 .toString();
    ASSERT_FALSE(devToken.isEmpty());
    const QJsonValue seededSync = demoRow(server.baseUrl(), devToken).value("syncedAt");

    QProcess app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(varnoProgram, {});
    ASSERT_TRUE(app.waitForStarted(10000));

    // A second process asks the first to sign in, once the first is listening.
    varno::test::Finished request;
    ASSERT_TRUE(waitUntil(
        [&] {
            return (request = runProgram(varnoProgram, {"--dev", "signin"}, env)).exitCode == 0;
        },
        20s))
        << (request.out + request.err).toStdString();

    // The upload reaches the server under the demo account.
    QJsonObject row;
    const bool uploaded = waitUntil(
        [&] {
            row = demoRow(server.baseUrl(), devToken);
            return row.contains("syncedAt") && row.value("syncedAt") != seededSync;
        },
        30s);
    QFile log(browserLog);
    log.open(QIODevice::ReadOnly);
    const QString browserOpened = QString::fromUtf8(log.readAll()).trimmed();
    ASSERT_TRUE(uploaded) << "browser log: " << browserOpened.toStdString();
    EXPECT_TRUE(browserOpened.startsWith("varno://auth/callback?state="));
    EXPECT_GT(row.value("total").toDouble(), 0);

    // The session went into the Secret Service.
    auto secrets = std::make_shared<varno::QtKeychainSecretStore>(20s);
    const auto saved = varno::test::awaitTask(varno::SessionKeychain::read(secrets), 30s);
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->user.id, "demo");
    EXPECT_EQ(saved->serverURL, server.baseUrl());

    // Quit with the panel and its friends sheet open ends the process.
    QFile report(startupReport);
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_TRUE(report.readAll().contains("tray=shown"));
    EXPECT_EQ(runProgram(varnoProgram, {"--dev", "friends"}, env).exitCode, 0);
    const auto shown = [&](const QString& title) {
        return runProgram("xdotool", {"search", "--onlyvisible", "--name", '^' + title + '$'}, env)
                   .exitCode == 0;
    };
    // The sheet is drawn in the panel, whose window then says so.
    EXPECT_TRUE(waitUntil([&] { return shown("Varno leaderboard — Friends"); }, 10s));
    EXPECT_EQ(runProgram(varnoProgram, {"--dev", "quit"}, env).exitCode, 0);
    ASSERT_TRUE(app.waitForFinished(10000)) << "still running after quit";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
}

} // namespace

TEST(EndToEnd, SignInThroughTheBrowserUploadsKeepsTheSessionAndQuitEndsIt) {
    if (varno::test::isChildRun()) {
        signInThroughTheBrowser();
        return;
    }
    const QString dbusRunSession = QStandardPaths::findExecutable("dbus-run-session");
    const QString keyringDaemon = QStandardPaths::findExecutable("gnome-keyring-daemon");
    if (varnoProgram.isEmpty() || dbusRunSession.isEmpty() || keyringDaemon.isEmpty() ||
        QStandardPaths::findExecutable("curl").isEmpty())
        GTEST_SKIP() << "needs the varno program, dbus-run-session, gnome-keyring-daemon and curl "
                        "(scripts/setup installs them)";
    varno::test::VirtualDisplay display(varno::test::VirtualDisplay::Tray::with);
    if (!display.isRunning())
        GTEST_SKIP() << display.error().toStdString();

    QProcessEnvironment env;
    env.insert("VARNO_E2E_DISPLAY", display.name());
    const varno::test::ChildRun child = varno::test::runInPrivateSession(true, 150s, env);
    EXPECT_EQ(child.outcome, varno::test::ChildRun::Outcome::passed) << child.output.toStdString();
}
