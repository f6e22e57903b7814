// Starts the real varno binary against the real development server, signs in
// through a stand-in browser that hands the varno:// callback to a second varno
// process, and checks what the server and the Secret Service end up holding.

#include "auth/QtKeychainSecretStore.h"
#include "auth/SessionKeychain.h"

#include "support/AwaitTask.h"
#include "support/DevServerProcess.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;
using varno::test::awaitTask;
using varno::test::waitUntil;

namespace {

const char* childMarker = "VARNO_E2E_CHILD";

QString varnoProgram() {
#ifdef VARNO_TOOL_VARNO
    return QStringLiteral(VARNO_TOOL_VARNO);
#else
    return {};
#endif
}

struct HttpAnswer {
    int status = 0;
    QJsonObject json;
};

HttpAnswer http(QNetworkAccessManager& network, const QByteArray& method, const QString& url,
                const QString& token = {}, const QByteArray& body = {}) {
    return awaitTask(
        [](QNetworkAccessManager& network, QByteArray method, QString url, QString token,
           QByteArray body) -> QCoro::Task<HttpAnswer> {
            QNetworkRequest request{QUrl(url)};
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
            if (!token.isEmpty())
                request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
            request.setTransferTimeout(10000);
            QNetworkReply* reply = network.sendCustomRequest(request, method, body);
            co_await reply;
            HttpAnswer answer;
            answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            answer.json = QJsonDocument::fromJson(reply->readAll()).object();
            reply->deleteLater();
            co_return answer;
        }(network, method, url, token, body),
        15s);
}

struct Run {
    int exitCode = -1;
    QString output;
};

Run runVarno(const QProcessEnvironment& env, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(varnoProgram(), arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(2000);
        return {-1, QStringLiteral("timed out")};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll())};
}

void writeFile(const QString& path, const QByteArray& content, bool executable = false) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    if (executable)
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The demo user's row on the server, as a friend of theirs would see it.
QJsonObject demoRow(QNetworkAccessManager& network, const QString& base, const QString& token) {
    const HttpAnswer dashboard =
        http(network, "GET",
             base + "/api/dashboard?date=" + QDate::currentDate().toString(Qt::ISODate), token);
    for (const auto& row : dashboard.json.value("leaderboard").toArray())
        if (row.toObject().value("id").toString() == QLatin1String("demo"))
            return row.toObject();
    return {};
}

// Runs inside a private D-Bus session with an unlocked gnome-keyring.
void signInThroughTheBrowser() {
    varno::test::DevServerProcess server(varno::test::DevServerProcess::Seed::demo);
    QTemporaryDir dir;
    const QString home = qEnvironmentVariable("HOME");
    const QString config = dir.filePath("config");
    const QString data = dir.filePath("data");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    writeFile(config + "/Varno/Varno.conf",
              "[General]\nserverURL=" + server.baseUrl().toUtf8() + "\n");

    // The stand-in browser: follows the development page as the user "demo" would
    // and opens the varno:// address it redirects to, as a desktop does.
    const QString browserLog = dir.filePath("browser.log");
    const QString browser = dir.filePath("browser");
    writeFile(
        browser,
        QStringLiteral("#!/bin/sh\n"
                       "location=$(curl -s -o /dev/null -D - \"$1&account=demo\" | tr -d '\\r' "
                       "| sed -n 's/^[Ll]ocation: //p')\n"
                       "echo \"$location\" >> '%1'\n"
                       "exec '%2' \"$location\"\n")
            .arg(browserLog, varnoProgram())
            .toUtf8(),
        true);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QString::fromLatin1(childMarker));
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("XDG_DATA_HOME", data);
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("CODEXBAR_CLI", QStringLiteral(VARNO_TOOL_FAKE_CODEXBAR));
    env.insert("VARNO_BROWSER", browser);
    env.insert("VARNO_DEVELOPMENT", "1");

    // The demo account comes with an older upload; ours replaces its time.
    QNetworkAccessManager network;
    const HttpAnswer devSession =
        http(network, "POST", server.baseUrl() + "/dev/sessions", {}, R"({"userId":"demo"})");
    ASSERT_EQ(devSession.status, 201);
    const QString devToken = devSession.json.value("token").toString();
    const QJsonValue seededSync = demoRow(network, server.baseUrl(), devToken).value("syncedAt");

    QProcess app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(varnoProgram(), {});
    ASSERT_TRUE(app.waitForStarted(10000));

    // A second process asks the first to sign in, once the first is listening.
    Run request;
    ASSERT_TRUE(waitUntil(
        [&] {
            request = runVarno(env, {"--dev", "signin"});
            return request.exitCode == 0;
        },
        20s))
        << request.output.toStdString();

    // The upload reaches the server under the demo account.
    QJsonObject row;
    const bool uploaded = waitUntil(
        [&] {
            row = demoRow(network, server.baseUrl(), devToken);
            return row.contains("syncedAt") && row.value("syncedAt") != seededSync;
        },
        30s);
    QFile log(browserLog);
    log.open(QIODevice::ReadOnly);
    const QString browserOpened = QString::fromUtf8(log.readAll());
    ASSERT_TRUE(uploaded) << "browser log: " << browserOpened.toStdString();
    EXPECT_TRUE(browserOpened.startsWith("varno://auth/callback?state="));
    EXPECT_GT(row.value("total").toDouble(), 0);

    // The session went into the Secret Service and works against the server.
    auto secrets = std::make_shared<varno::QtKeychainSecretStore>(20s);
    const auto saved = awaitTask(varno::SessionKeychain::read(secrets), 30s);
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->user.id, "demo");
    EXPECT_EQ(saved->serverURL, server.baseUrl());
    const HttpAnswer withSaved =
        http(network, "GET",
             server.baseUrl() + "/api/dashboard?date=" + QDate::currentDate().toString(Qt::ISODate),
             saved->token);
    EXPECT_EQ(withSaved.status, 200);
    EXPECT_EQ(withSaved.json.value("user").toObject().value("id").toString(), "demo");

    // A callback that comes when no sign-in waits is ignored; show and toggle work.
    const Run stale = runVarno(env, {browserOpened.trimmed()});
    EXPECT_EQ(stale.exitCode, 0);
    EXPECT_TRUE(stale.output.contains("ignored")) << stale.output.toStdString();
    EXPECT_EQ(runVarno(env, {"--toggle"}).exitCode, 0);
    EXPECT_EQ(runVarno(env, {}).exitCode, 0);

    // First start installed the desktop entry for varno:// links.
    QFile entry(data + "/applications/varno.desktop");
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray entryText = entry.readAll();
    EXPECT_TRUE(entryText.contains("MimeType=x-scheme-handler/varno;"));
    EXPECT_TRUE(entryText.contains("Exec=" + varnoProgram().toUtf8() + " %u"))
        << entryText.constData();

    // Quit runs the quit steps and exits cleanly.
    app.terminate();
    ASSERT_TRUE(app.waitForFinished(10000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);

    // With nobody running, a sign-in link cannot be used.
    const Run orphan = runVarno(env, {browserOpened.trimmed()});
    EXPECT_EQ(orphan.exitCode, 1);
    EXPECT_TRUE(orphan.output.contains("not running")) << orphan.output.toStdString();
}

} // namespace

TEST(EndToEnd, SignInThroughTheBrowserUploadsAndKeepsTheSession) {
    if (qEnvironmentVariableIsSet(childMarker)) {
        signInThroughTheBrowser();
        return;
    }
    if (varnoProgram().isEmpty())
        GTEST_SKIP() << "the varno program is not part of this build";
    const QString dbusRunSession = QStandardPaths::findExecutable("dbus-run-session");
    const QString keyringDaemon = QStandardPaths::findExecutable("gnome-keyring-daemon");
    const QString curl = QStandardPaths::findExecutable("curl");
    if (dbusRunSession.isEmpty() || keyringDaemon.isEmpty() || curl.isEmpty())
        GTEST_SKIP() << "dbus-run-session, gnome-keyring-daemon or curl is missing "
                        "(scripts/setup installs them)";

    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QString runtime = dir.filePath("runtime");
    QDir().mkpath(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DBUS_SESSION_BUS_ADDRESS", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
          "GNOME_KEYRING_CONTROL", "DISPLAY", "WAYLAND_DISPLAY", "BROWSER"})
        env.remove(QString::fromLatin1(name));
    env.insert("HOME", home);
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert(QString::fromLatin1(childMarker), "1");
    env.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(
        dbusRunSession,
        {"--", "sh", "-c",
         "printf pw | \"$1\" --unlock --components=secrets >/dev/null && "
         "exec \"$0\" --gtest_filter=EndToEnd.SignInThroughTheBrowserUploadsAndKeepsTheSession",
         QCoreApplication::applicationFilePath(), keyringDaemon});
    ASSERT_TRUE(child.waitForStarted(10000));
    const bool finished = child.waitForFinished(150000);
    const QString output = QString::fromLocal8Bit(child.readAll());
    if (!finished)
        child.kill();
    ASSERT_TRUE(finished) << "the end-to-end run did not finish:\n" << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}
