// Runs the built `varno --print-usage` as a user would, against the fake CodexBar tool.

#include "model/Formatting.h"

#include "support/AwaitTask.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

using namespace std::chrono_literals;

namespace {

class PrintUsage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        for (const char* folder : {"home", "config", "tmp"})
            ASSERT_TRUE(QDir(root.path()).mkpath(folder));
    }

    // A tool that runs the fake in the given mode and leaves its pid next to itself.
    QString fakeInMode(const QByteArray& mode) {
        const QString file = root.filePath("codexbar-" + QString::fromLatin1(mode));
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("#!/bin/sh\necho $$ > '" + QFile::encodeName(root.filePath("pid")) +
                  "'\nexport FAKE_CODEXBAR_MODE=" + mode + "\nexec '" + VARNO_TOOL_FAKE_CODEXBAR +
                  "' \"$@\"\n");
        out.close();
        out.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return file;
    }

    void start(QProcess& varno, const QString& codexbarCli,
               const QStringList& arguments = {QStringLiteral("--print-usage")}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CODEXBAR_CLI"), codexbarCli);
        env.insert(QStringLiteral("HOME"), root.filePath("home"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath("config"));
        env.insert(QStringLiteral("TMPDIR"), root.filePath("tmp"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        varno.setProcessEnvironment(env);
        varno.start(QStringLiteral(VARNO_TOOL_VARNO), arguments);
        ASSERT_TRUE(varno.waitForStarted(5000));
    }

    void finish(QProcess& varno) { ASSERT_TRUE(varno.waitForFinished(20000)); }

    QStringList temporaryFiles() const {
        return QDir(root.filePath("tmp"))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir root;
};

} // namespace

TEST_F(PrintUsage, PrintsTheUploadTheNextSyncWouldSend) {
    QString deviceIds[2];
    for (QString& deviceId : deviceIds) {
        QProcess varno;
        start(varno, QStringLiteral(VARNO_TOOL_FAKE_CODEXBAR));
        finish(varno);
        EXPECT_EQ(varno.exitStatus(), QProcess::NormalExit);
        ASSERT_EQ(varno.exitCode(), 0) << varno.readAllStandardError().toStdString();
        EXPECT_EQ(varno.readAllStandardError(), "");

        QJsonParseError error;
        const QJsonDocument document =
            QJsonDocument::fromJson(varno.readAllStandardOutput(), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        const QJsonObject upload = document.object();
        EXPECT_EQ(upload.keys(), (QStringList{"collectedAt", "daily", "deviceId"}));
        deviceId = upload.value("deviceId").toString();
        EXPECT_EQ(deviceId.size(), 36);
        EXPECT_EQ(deviceId, deviceId.toUpper());

        const QDateTime collectedAt =
            QDateTime::fromString(upload.value("collectedAt").toString(), Qt::ISODate);
        EXPECT_EQ(upload.value("collectedAt").toString().size(), 20);
        EXPECT_LT(qAbs(collectedAt.secsTo(QDateTime::currentDateTimeUtc())), 60);

        const QJsonArray daily = upload.value("daily").toArray();
        ASSERT_EQ(daily.size(), 60);
        const QDate today = QDate::currentDate();
        qint64 sum = 0;
        for (int i = 0; i < 60; ++i) {
            const QJsonObject row = daily.at(i).toObject();
            EXPECT_EQ(row.value("provider").toString(), i < 30 ? "codex" : "claude") << i;
            EXPECT_EQ(row.value("date").toString(),
                      today.addDays(i % 30 - 29).toString(Qt::ISODate))
                << i;
            sum += row.value("totalTokens").toInteger(-1);
        }
        EXPECT_GT(sum, 0);
    }
    EXPECT_EQ(deviceIds[0], deviceIds[1])
        << "the device id is this installation's, kept between runs";
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(PrintUsage, FailureGoesToStandardErrorWithStatusOne) {
    QProcess varno;
    start(varno, fakeInMode("fail"));
    finish(varno);
    EXPECT_EQ(varno.exitCode(), 1);
    EXPECT_EQ(varno.readAllStandardOutput(), "");
    EXPECT_EQ(varno.readAllStandardError(),
              "Could not read local usage. Open CodexBar, check both providers, and try again.\n");
    EXPECT_TRUE(temporaryFiles().isEmpty());

    QProcess confused;
    start(confused, fakeInMode("ok"), {QStringLiteral("--print-usages")});
    finish(confused);
    EXPECT_EQ(confused.exitCode(), 2);
    EXPECT_TRUE(confused.readAllStandardError().contains("usage: varno"));
}

TEST_F(PrintUsage, TerminatingItStopsTheTool) {
    QProcess varno;
    start(varno, fakeInMode("hang"));
    const QString pidFile = root.filePath("pid");
    ASSERT_TRUE(varno::test::waitUntil(
        [&] { return QFile(pidFile).size() > 0 && QFile::exists(pidFile); }, 5s));
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const pid_t tool = pid_t(file.readAll().trimmed().toLong());
    ASSERT_GT(tool, 0);
    // Give the reading time to launch the tool before asking varno to stop.
    varno::test::waitUntil([] { return false; }, 200ms);
    varno.terminate();
    finish(varno);
    EXPECT_EQ(varno.exitCode(), 1);
    EXPECT_EQ(varno.readAllStandardError(), "The operation was cancelled.\n");
    const bool toolGone = ::kill(tool, 0) != 0 && errno == ESRCH;
    EXPECT_TRUE(toolGone);
    if (!toolGone)
        ::kill(tool, SIGKILL);
    EXPECT_TRUE(temporaryFiles().isEmpty());
}
