// SPDX-License-Identifier: MIT
#pragma once

// A throw-away desktop for black-box tests of the real varno binary: an X server,
// the programs of a desktop session, screenshots and the pointer, all as child
// processes that end with the session.

#include "support/AwaitTask.h"
#include "support/ChildRun.h"
#include "support/Contrast.h"
#include "support/Files.h"
#include "support/Programs.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace varno::test {

class DesktopSession {
public:
    DesktopSession() {
        environment_ = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE",
                                 "XDG_CURRENT_DESKTOP", "QT_QPA_PLATFORM", "BROWSER"})
            environment_.remove(QString::fromLatin1(name));
    }
    ~DesktopSession() {
        // Newest first: the app before the desktop it runs on.
        for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
            (*it)->terminate();
            if (!(*it)->waitForFinished(5000)) {
                (*it)->kill();
                (*it)->waitForFinished(2000);
            }
        }
    }

    // The programs a test needs; the first one missing, or empty when all are there.
    static QString missing(const QStringList& programs) {
        for (const QString& program : programs)
            if (QStandardPaths::findExecutable(program).isEmpty())
                return program;
        return {};
    }

    QProcessEnvironment& environment() { return environment_; }
    // What a program started here wrote so far.
    QString log(const QString& program) const { return readText(path(program + ".log")); }
    QString path(const QString& name) const { return dir_.filePath(name); }

    QProcess* start(const QString& program, const QStringList& arguments,
                    std::optional<QProcessEnvironment> environment = std::nullopt) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment.value_or(environment_));
        const QString log = path(QFileInfo(program).fileName() + ".log");
        process->setStandardOutputFile(log, QIODevice::Append);
        process->setStandardErrorFile(log, QIODevice::Append);
        process->start(program, arguments);
        processes_.push_back(std::move(process));
        return processes_.back().get();
    }

    // Runs a program to its end: its exit code (-1 when it did not end normally) and output.
    std::pair<int, QString> run(const QString& program, const QStringList& arguments,
                                int timeoutMs = 10000) {
        const Finished done =
            runProgram(program, arguments, environment_, {}, std::chrono::milliseconds(timeoutMs));
        return {done.exitCode, done.out + done.err};
    }

    // An X server of the given size; sets DISPLAY for everything started after it.
    bool startX(const QString& size) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment_);
        process->start(QStringLiteral("Xvfb"),
                       {"-displayfd", "1", "-screen", "0", size + "x24", "-nolisten", "tcp"});
        QProcess* x = process.get();
        processes_.push_back(std::move(process));
        if (!waitUntil([&] { return x->canReadLine(); }, std::chrono::seconds(10)))
            return false;
        const QString display = QString::fromLatin1(x->readLine()).trimmed();
        environment_.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + display);
        return true;
    }

    QImage screenshot(const QString& savedAs = {}) {
        const QString file = savedAs.isEmpty() ? path(QStringLiteral("shot.png")) : savedAs;
        QFile::remove(file);
        run(QStringLiteral("import"), {"-window", "root", file});
        return QImage(file).convertToFormat(QImage::Format_RGB32);
    }

    // The geometries of the visible windows that xdotool finds, e.g. {"--name", "^Title"}.
    QList<QRect> visibleWindows(const QStringList& search) {
        const auto [code, ids] =
            run(QStringLiteral("xdotool"), QStringList{"search", "--onlyvisible"} + search);
        QList<QRect> windows;
        for (const QString& id : ids.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString shell =
                run(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", id.trimmed()})
                    .second;
            QMap<QString, int> values;
            for (const QString& line : shell.split(QLatin1Char('\n')))
                values.insert(line.section('=', 0, 0), line.section('=', 1).toInt());
            if (values.contains("WIDTH"))
                windows.append(QRect(values.value("X"), values.value("Y"), values.value("WIDTH"),
                                     values.value("HEIGHT")));
        }
        return windows;
    }
    // The first visible window whose name matches, if there is one.
    std::optional<QRect> visibleWindow(const QString& namePattern) {
        const QList<QRect> windows = visibleWindows({"--name", namePattern});
        if (windows.isEmpty())
            return std::nullopt;
        return windows.first();
    }

    void click(const QPoint& at, int button) {
        run(QStringLiteral("xdotool"), {"mousemove", QString::number(at.x()),
                                        QString::number(at.y()), "click", QString::number(button)});
    }

private:
    QTemporaryDir dir_;
    QProcessEnvironment environment_;
    std::vector<std::unique_ptr<QProcess>> processes_;
};

// Runs a test's body on a desktop of its own: again, in a child run inside a private
// session (with an unlocked keyring when asked); skips when varno or a program is missing.
// What the child printed goes to `output` when given.
inline void runOnDesktop(void (*body)(), QStringList programs, bool keyring,
                         std::chrono::milliseconds timeout, QString* output = nullptr) {
    if (isChildRun())
        return body();
    const QString missing = DesktopSession::missing(programs << "dbus-run-session");
    if (varnoProgramPath().isEmpty() || !missing.isEmpty())
        GTEST_SKIP() << "needs "
                     << (missing.isEmpty() ? "the varno program" : missing.toStdString())
                     << " (scripts/setup installs them)";
    const ChildRun child = runInPrivateSession(keyring, timeout);
    EXPECT_EQ(child.outcome, ChildRun::Outcome::passed) << child.output.toStdString();
    if (output)
        *output = child.output;
}

} // namespace varno::test
