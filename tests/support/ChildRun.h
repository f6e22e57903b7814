// SPDX-License-Identifier: MIT
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>

namespace varno::test {

// What a test that must run in a process of its own found there (a platform or
// platform theme is chosen when QApplication starts, an accessibility bus must exist
// before it does).
struct ChildRun {
    enum class Outcome { passed, failed, skipped };
    Outcome outcome = Outcome::failed;
    QString output;
};

// True inside the child started by runCurrentTestInChild().
bool isChildRun();

// Runs the current test again, alone, in a new process of this test program with the
// given environment (plus a marker for isChildRun()), behind `wrapper` when one is
// given (e.g. {"dbus-run-session", "--"}).
ChildRun runCurrentTestInChild(QProcessEnvironment env, QStringList wrapper = {},
                               std::chrono::milliseconds timeout = std::chrono::seconds(120));

// Runs the current test again as runCurrentTestInChild() does, inside a private D-Bus
// session (dbus-run-session) with its own HOME and XDG_RUNTIME_DIR, on no display, with an
// unlocked gnome-keyring when asked.
ChildRun runInPrivateSession(bool keyring, std::chrono::milliseconds timeout);

} // namespace varno::test
