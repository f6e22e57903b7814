// SPDX-License-Identifier: MIT
#include "ChildRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace varno::test {

namespace {
const QString marker = QStringLiteral("VARNO_TEST_CHILD_RUN");
}

bool isChildRun() {
    return qEnvironmentVariableIsSet(marker.toLatin1().constData());
}

ChildRun runCurrentTestInChild(QProcessEnvironment env, QStringList wrapper,
                               std::chrono::milliseconds timeout) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    env.insert(marker, QStringLiteral("1"));
    QStringList command = wrapper;
    command << QCoreApplication::applicationFilePath()
            << QStringLiteral("--gtest_filter=%1.%2")
                   .arg(QString::fromUtf8(test->test_suite_name()),
                        QString::fromUtf8(test->name()));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(command.takeFirst(), command);
    const bool finished = child.waitForFinished(int(timeout.count()));
    if (!finished) {
        child.kill();
        child.waitForFinished(3000);
    }
    ChildRun run;
    run.output = QString::fromLocal8Bit(child.readAll());
    if (!finished)
        run.output += QStringLiteral("\n(the child run did not finish in time)");
    else if (run.output.contains(QStringLiteral("[  SKIPPED ] 1 test")))
        run.outcome = ChildRun::Outcome::skipped;
    else if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 &&
             run.output.contains(QStringLiteral("[  PASSED  ] 1 test")))
        run.outcome = ChildRun::Outcome::passed;
    return run;
}

// Ends what a private D-Bus session may have left mounted in its runtime folder (the
// document portal's FUSE folder `doc`, which goes away only some time after the bus),
// so that the folder can be removed.
static void releasePrivateRuntime(const QString& runtime) {
    const QString doc = QDir(runtime).filePath(QStringLiteral("doc"));
    if (runtime.isEmpty() || !QFileInfo::exists(doc))
        return;
    QString unmount = QStandardPaths::findExecutable(QStringLiteral("fusermount3"));
    if (unmount.isEmpty())
        unmount = QStandardPaths::findExecutable(QStringLiteral("fusermount"));
    if (unmount.isEmpty())
        return;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Lazily: the portal may still hold it; "not mounted" is fine too.
    process.start(unmount, {QStringLiteral("-u"), QStringLiteral("-z"), QStringLiteral("-q"), doc});
    if (!process.waitForFinished(5000))
        process.kill();
}

ChildRun runInPrivateSession(bool keyring, std::chrono::milliseconds timeout) {
    QTemporaryDir dir;
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QDir().mkpath(dir.filePath(QStringLiteral("home")));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DBUS_SESSION_BUS_ADDRESS", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
          "GNOME_KEYRING_CONTROL", "DISPLAY", "WAYLAND_DISPLAY", "BROWSER"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QStringList wrapper{QStringLiteral("dbus-run-session"), QStringLiteral("--")};
    if (keyring)
        wrapper << QStringLiteral("sh") << QStringLiteral("-c")
                << QStringLiteral("printf pw | gnome-keyring-daemon --unlock --components=secrets "
                                  ">/dev/null && exec \"$0\" \"$1\"");
    ChildRun run = runCurrentTestInChild(env, wrapper, timeout);
    releasePrivateRuntime(runtime);
    return run;
}

} // namespace varno::test
