// SPDX-License-Identifier: MIT
// Hands long sign-in links to a running varno the way the browser does: through a
// second `varno <link>` process. The running instance acts on a link only as a whole.

#include "app/SingleInstance.h"

#include "support/AwaitTask.h"
#include "support/Files.h"
#include "support/Programs.h"
#include "support/ScriptedHttpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace varno;
using varno::test::RecordedRequest;
using varno::test::ScriptedHttpServer;
using varno::test::ScriptedResponse;
using varno::test::waitUntil;

namespace {

using varno::test::Finished;

Finished run(const QProcessEnvironment& env, const QStringList& arguments) {
    return varno::test::runProgram(varno::test::varnoProgramPath(), arguments, env, {},
                                   std::chrono::seconds(15));
}

// A link whose request to the running instance takes about `encodedSize` bytes: every
// "/" of the padding is percent-encoded to three.
QString callbackOfSize(const QString& state, const QString& code, qsizetype encodedSize,
                       const QString& tail = {}) {
    return QStringLiteral("varno://auth/callback?state=%1&code=%2&pad=%3%4")
        .arg(state, code, QString(encodedSize / 3, u'/'), tail);
}

} // namespace

TEST(EndToEnd, LongSignInLinksAreUsedWholeOrNotAtAll) {
    if (varno::test::varnoProgramPath().isEmpty())
        GTEST_SKIP() << "needs the varno program";

    const QString code = QString(64, u'c');
    ScriptedHttpServer server;
    server.setHandler([&](const RecordedRequest& request) {
        if (request.pathWithoutQuery() == "/api/auth/github")
            return ScriptedResponse::reply(
                200, R"({"url":")" + server.url("/sign-in").toString().toUtf8() + R"("})");
        if (request.pathWithoutQuery() == "/api/auth/exchange")
            return ScriptedResponse::reply(400, R"({"error":"Code used."})");
        return ScriptedResponse::reply(404, R"({"error":"Not here."})");
    });
    const auto countOf = [&](const QByteArray& path) {
        int n = 0;
        for (const RecordedRequest& request : server.requests())
            n += request.pathWithoutQuery() == path;
        return n;
    };
    // The state of the latest sign-in start.
    const auto latestState = [&] {
        QString state;
        for (const RecordedRequest& request : server.requests())
            if (request.pathWithoutQuery() == "/api/auth/github")
                state = QUrlQuery(QUrl(QString::fromUtf8(request.path)).query())
                            .queryItemValue(QStringLiteral("state"));
        return state;
    };

    QTemporaryDir dir;
    const QString runtime = dir.filePath("runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(test::writeFile(
        dir.filePath("config/Varno/Varno.conf"),
        "[General]\nserverURL=" + server.url(QString()).toString().toUtf8() + "\n"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    env.insert("HOME", dir.filePath("home"));
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_DATA_HOME", dir.filePath("data"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VARNO_DEVELOPMENT", "1");
    env.insert("VARNO_NO_URL_HANDLER", "1");
    env.insert("VARNO_BROWSER", "true"); // the page is never looked at
    env.insert("CODEXBAR_CLI", QStringLiteral(VARNO_TOOL_FAKE_CODEXBAR));

    QProcess app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(varno::test::varnoProgramPath(), {});
    ASSERT_TRUE(app.waitForStarted(10000));
    const auto startSignIn = [&](int starts) {
        // Retried until the app listens and has restored (no) session.
        return waitUntil(
            [&] {
                return run(env, {"--dev", "signin"}).exitCode == 0 &&
                       countOf("/api/auth/github") >= starts;
            },
            30s);
    };
    ASSERT_TRUE(startSignIn(1));

    // Over the limit: refused by the forwarding process, and the sign-in goes on waiting.
    const qsizetype limit = InstanceRequest::maxEncodedSize;
    const Finished tooLong = run(env, {callbackOfSize(latestState(), code, limit + 300)});
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_TRUE(tooLong.err.contains("longer than Varno accepts")) << tooLong.err.toStdString();

    // Past the old cut at 16 KiB a second state is read too, so the link is refused as
    // forged and no code is exchanged.
    const Finished forged =
        run(env, {callbackOfSize(latestState(), code, 20 * 1024, QStringLiteral("&state=forged"))});
    EXPECT_EQ(forged.exitCode, 0) << "it reached the waiting sign-in: " << forged.err.toStdString();
    ASSERT_TRUE(startSignIn(2)) << "the forged link ended the first sign-in";
    EXPECT_EQ(countOf("/api/auth/exchange"), 0);

    // A long link that is right as a whole is used.
    const Finished whole = run(env, {callbackOfSize(latestState(), code, limit - 1024)});
    EXPECT_EQ(whole.exitCode, 0) << whole.err.toStdString();
    ASSERT_TRUE(waitUntil([&] { return countOf("/api/auth/exchange") == 1; }));
    for (const RecordedRequest& request : server.requests()) {
        if (request.pathWithoutQuery() == "/api/auth/exchange") {
            EXPECT_EQ(QJsonDocument::fromJson(request.body).object().value("code").toString(),
                      code);
        }
    }

    app.terminate();
    ASSERT_TRUE(app.waitForFinished(10000));
    EXPECT_EQ(app.exitCode(), 0);
}
