// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace varno::test {

// An X server of the test's own (Xvfb, 1280 x 800), optionally with a tray host
// (trayer, a bar at the top right), for tests that need a real window system: the
// tray icon's window, a platform theme, the accessibility bus. Both run as long as
// the object lives.
//
//     VirtualDisplay display(VirtualDisplay::Tray::with);
//     if (!display.isRunning())
//         GTEST_SKIP() << display.error();
//     process.setProcessEnvironment(display.environment());
class VirtualDisplay {
public:
    enum class Tray { without, with };

    explicit VirtualDisplay(Tray tray = Tray::without);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool isRunning() const { return !display_.isEmpty(); }
    // Why it is not running, for a skip message.
    QString error() const { return error_; }
    // ":N"
    QString name() const { return display_; }

    // The base environment pointed at this display, on Qt's X11 platform.
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

private:
    bool startServer();
    bool startTray();

    QProcess server_;
    QProcess tray_;
    QString display_;
    QString error_;
};

} // namespace varno::test
