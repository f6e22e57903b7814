// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace varno::test {

// An X server of the test's own (Xvfb, 1280 x 800) while the object lives, for what needs
// a real window system: a platform theme, the accessibility bus.
class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool isRunning() const { return !display_.isEmpty(); }
    // Why it is not running, for a skip message.
    QString error() const { return error_; }

    // The base environment pointed at this display, on Qt's X11 platform.
    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

private:
    QProcess server_;
    QString display_;
    QString error_;
};

} // namespace varno::test
