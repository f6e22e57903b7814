// SPDX-License-Identifier: MIT
#include "VirtualDisplay.h"

#include <QDeadlineTimer>
#include <QStandardPaths>

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

VirtualDisplay::VirtualDisplay() {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        error_ = QStringLiteral("Xvfb is not installed (scripts/setup installs it)");
        return;
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
        return;
    }
    display_ = QLatin1Char(':') + QString::fromLatin1(server_.readLine().trimmed());
}

VirtualDisplay::~VirtualDisplay() {
    stopProcess(server_);
}

QProcessEnvironment VirtualDisplay::environment(QProcessEnvironment base) const {
    base.insert(QStringLiteral("DISPLAY"), display_);
    base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    base.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return base;
}

} // namespace varno::test
