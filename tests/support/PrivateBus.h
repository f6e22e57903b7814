// SPDX-License-Identifier: MIT
#pragma once

#include "support/Files.h"

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace varno::test {

// A message bus of our own: a real dbus-daemon with no service folders, so nothing of
// the machine's desktop (a portal, a notification daemon) can be started on it.
class PrivateBus {
public:
    PrivateBus() {
        const QString config = dir_.filePath(QStringLiteral("bus.conf"));
        if (!writeFile(config,
                       QStringLiteral("<busconfig><type>session</type>"
                                      "<listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                                      "<policy context=\"default\">"
                                      "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                      "<allow receive_sender=\"*\"/><allow eavesdrop=\"true\"/>"
                                      "<allow own=\"*\"/></policy></busconfig>")
                           .arg(dir_.path())
                           .toUtf8()))
            return;
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {"--config-file=" + config, "--nofork", "--print-address=1"});
        if (daemon_.waitForReadyRead(10000))
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : names_)
            QDBusConnection::disconnectFromBus(name);
        daemon_.kill();
        daemon_.waitForFinished(3000);
    }
    bool isRunning() const { return !address_.isEmpty(); }
    QString address() const { return address_; }

    // A connection of its own, as another process would have.
    QDBusConnection connect(const QString& name) {
        names_.append(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

} // namespace varno::test
