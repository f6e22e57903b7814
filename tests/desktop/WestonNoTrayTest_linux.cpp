// SPDX-License-Identifier: MIT
// Varno on a Wayland compositor with no tray at all (weston, nested in Xvfb so that
// keys can be sent and the screen read): it says once that it runs and how to reach
// it, `varno --toggle` opens the panel and Escape closes it.

#include "support/Files.h"
#include "support/Programs.h"

#include "support/DesktopSession.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace varno {
namespace {

using test::DesktopSession;
using test::waitUntil;

const QString varnoProgram = varno::test::varnoProgramPath();

// How many pixels differ between two screenshots of the same size.
int changedPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return a.width() * a.height();
    int changed = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* rowA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* rowB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            changed += rowA[x] != rowB[x];
    }
    return changed;
}

void onWestonWithoutATray() {
    DesktopSession desktop;
    ASSERT_TRUE(desktop.startX(QStringLiteral("1024x768"))) << "Xvfb did not start";
    // The notification service of the session (it draws on the X server).
    desktop.start(QStringLiteral("dunst"), {});
    const QString ini = desktop.path("weston.ini");
    ASSERT_TRUE(test::writeFile(ini, "[core]\nidle-time=0\n[shell]\npanel-position=none\n"
                                     "background-color=0xff406080\n"));
    const QString socket = QStringLiteral("varno-test-%1").arg(QCoreApplication::applicationPid());
    desktop.start(QStringLiteral("weston"),
                  {"--config=" + ini, "--backend=x11-backend.so", "--use-pixman",
                   "--socket=" + socket, "--width=900", "--height=650"});
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(runtime + '/' + socket); }, 20s))
        << "weston did not start: " << test::readText(desktop.path("weston.log")).toStdString();
    QThread::msleep(1500); // the shell paints its background

    // Varno as a Wayland client: no X server of its own to fall back to.
    QProcessEnvironment app = desktop.environment();
    app.remove("DISPLAY");
    app.insert("WAYLAND_DISPLAY", socket);
    app.insert("XDG_SESSION_TYPE", "wayland");
    app.insert("XDG_CONFIG_HOME", desktop.path("config"));
    app.insert("XDG_DATA_HOME", desktop.path("data"));
    app.insert("VARNO_NO_URL_HANDLER", "1");
    app.insert("CODEXBAR_CLI", QStringLiteral(VARNO_TOOL_FAKE_CODEXBAR));
    QProcess* varno = desktop.start(varnoProgram, {}, app);
    ASSERT_TRUE(varno->waitForStarted(10000));

    const QString notice = QStringLiteral("this desktop has no system tray");
    const QString log = desktop.path("varno.log");
    ASSERT_TRUE(waitUntil([&] { return test::readText(log).contains(notice); }, 20s))
        << test::readText(log).toStdString();
    QThread::msleep(6000); // a few more rechecks of the tray
    EXPECT_EQ(test::readText(log).count(notice), 1) << test::readText(log).toStdString();
    EXPECT_TRUE(test::readText(log).contains("varno --toggle"));
    // The same, as a desktop notification.
    EXPECT_TRUE(waitUntil(
        [&] {
            return desktop.run(QStringLiteral("dunstctl"), {"history"})
                .second.contains("Varno is running without a tray icon");
        },
        10s))
        << desktop.run(QStringLiteral("dunstctl"), {"history"}).second.toStdString();
    desktop.run(QStringLiteral("dunstctl"), {"close-all"});
    QThread::msleep(500);

    const QImage before = desktop.screenshot();
    ASSERT_FALSE(before.isNull());
    ASSERT_EQ(test::runProgram(varnoProgram, {"--toggle"}, app).exitCode, 0);
    QImage open;
    // The card is 280 x 100 at least.
    EXPECT_TRUE(
        waitUntil([&] { return changedPixels(before, open = desktop.screenshot()) > 20000; }, 10s))
        << "the panel did not appear";

    // Escape, typed into weston's window, reaches the focused panel and closes it.
    QString westonWindow;
    for (const QString& line :
         desktop.run(QStringLiteral("xwininfo"), {"-root", "-children"}).second.split('\n'))
        if (line.contains("\"Weston Compositor"))
            westonWindow = line.trimmed().section(' ', 0, 0);
    ASSERT_TRUE(westonWindow.startsWith("0x")) << "weston's window is not there";
    desktop.run(QStringLiteral("xdotool"), {"windowfocus", "--sync", westonWindow});
    desktop.run(QStringLiteral("xdotool"), {"key", "--window", westonWindow, "Escape"});
    EXPECT_TRUE(waitUntil([&] { return changedPixels(before, desktop.screenshot()) < 2000; }, 10s))
        << "the panel did not close on Escape";
    EXPECT_EQ(varno->state(), QProcess::Running);
}

TEST(WestonWithoutTray, SaysSoOnceAndTheToggleOpensThePanel) {
    test::runOnDesktop(onWestonWithoutATray,
                       {"Xvfb", "weston", "dunst", "dunstctl", "xdotool", "import"}, false, 120s);
}

} // namespace
} // namespace varno
