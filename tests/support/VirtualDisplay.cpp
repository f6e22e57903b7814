// SPDX-License-Identifier: MIT
#include "VirtualDisplay.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QThread>

namespace varno::test {

namespace {

void stopProcess(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace

VirtualDisplay::VirtualDisplay(Tray tray) {
    if (!startServer())
        return;
    if (tray == Tray::with && !startTray()) {
        stopProcess(server_);
        display_.clear();
    }
}

VirtualDisplay::~VirtualDisplay() {
    stopProcess(tray_);
    stopProcess(server_);
}

bool VirtualDisplay::startServer() {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        error_ = QStringLiteral("Xvfb is not installed (scripts/setup installs it)");
        return false;
    }
    // Xvfb picks a free display itself and writes its number to the descriptor given.
    server_.start(xvfb, {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    QDeadlineTimer deadline(std::chrono::seconds(10));
    while (!server_.canReadLine() && !deadline.hasExpired() &&
           server_.state() != QProcess::NotRunning)
        server_.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
    if (!server_.canReadLine()) {
        error_ = QStringLiteral("Xvfb did not start: ") +
                 QString::fromLocal8Bit(server_.readAllStandardError()).trimmed();
        stopProcess(server_);
        return false;
    }
    display_ = QLatin1Char(':') + QString::fromLatin1(server_.readLine().trimmed());
    return true;
}

bool VirtualDisplay::startTray() {
    const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (trayer.isEmpty() || xdotool.isEmpty()) {
        error_ = QStringLiteral("trayer or xdotool is not installed (scripts/setup installs them)");
        return false;
    }
    const QProcessEnvironment env = environment();
    tray_.setProcessEnvironment(env);
    tray_.setProcessChannelMode(QProcess::MergedChannels);
    tray_.start(trayer, {"--edge", "top", "--align", "right", "--widthtype", "request", "--height",
                         "28", "--SetDockType", "true", "--transparent", "false"});
    // Up once its window exists; it claims the tray selection as it maps it.
    QDeadlineTimer deadline(std::chrono::seconds(10));
    while (!deadline.hasExpired() && tray_.state() != QProcess::NotRunning) {
        QProcess search;
        search.setProcessEnvironment(env);
        search.start(xdotool, {"search", "--classname", "trayer"});
        if (search.waitForFinished(3000) && search.exitCode() == 0) {
            QThread::msleep(200);
            return true;
        }
        QThread::msleep(50);
    }
    error_ = QStringLiteral("trayer did not start: ") +
             QString::fromLocal8Bit(tray_.readAll()).trimmed();
    return false;
}

QProcessEnvironment VirtualDisplay::environment(QProcessEnvironment base) const {
    base.insert(QStringLiteral("DISPLAY"), display_);
    base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    base.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return base;
}

} // namespace varno::test
