// SPDX-License-Identifier: MIT
#pragma once

#include "model/Records.h"

#include <QByteArray>
#include <QCoroTask>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>

namespace varno {

// Everything a reading takes from the outside world, so that tests can run it
// against their own tools, folders, clocks and time limits. The defaults are
// the real machine's.
struct ReaderOptions {
    // Looks up a variable of this process's environment; nullopt when it is unset.
    // Only CODEXBAR_CLI is asked for. The tool itself always inherits the real
    // environment.
    std::function<std::optional<QString>(const QString& name)> environment = systemEnvironment;
    QString homeDirectory = defaultHomeDirectory();
    QString temporaryDirectory = defaultTemporaryDirectory();
    // Where an installed tool may live, tried in order after CODEXBAR_CLI. A
    // relative entry is taken relative to homeDirectory.
    QStringList installLocations = defaultInstallLocations();

    std::chrono::milliseconds timeLimit{45000};
    std::chrono::milliseconds pollInterval{100};
    std::chrono::milliseconds gracePeriod{200};

    // The instant of the reading and the zone whose calendar days form the window.
    // Called on the background thread once the tool has finished.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };
    std::function<QTimeZone()> timeZone = [] { return QTimeZone::systemTimeZone(); };

    static std::optional<QString> systemEnvironment(const QString& name);
    static QString defaultHomeDirectory();
    static QString defaultTemporaryDirectory();
    // The app bundle in /Applications and in ~/Applications, Homebrew and
    // /usr/local, then the platform's own places (on Linux ~/.local/bin and /usr/bin).
    static QStringList defaultInstallLocations();
};

// Reads the user's daily token totals through CodexBar's command-line tool.
// No instances, no state: every reading has its own process, file and handle.
class CodexBarReader {
public:
    CodexBarReader() = delete;

    // The nine arguments the tool is run with.
    static const QStringList& arguments();

    // Starts a reading on a background thread and awaits it without blocking the
    // caller's thread. Throws CancellationError when the token is (or gets) stopped,
    // also when the tool had already finished; otherwise whatever collect() threw.
    static QCoro::Task<UsageSnapshot> read(std::stop_token token = {}, ReaderOptions options = {});

    // The blocking reading: finds the tool, runs it under the time limit with its
    // output in a private file, and decodes that file. Stops the tool, closes the
    // handle and deletes the file on every path. Checks the token before starting,
    // before launching, in every poll round and after the tool has ended.
    static UsageSnapshot collect(std::stop_token token, const ReaderOptions& options);

    // The paths tried for the tool, in order: CODEXBAR_CLI as given (when set),
    // then the install locations.
    static QStringList candidates(const ReaderOptions& options);

    // The first candidate that is an executable regular file for this user, or
    // nullopt when there is none.
    static std::optional<QString> findTool(const ReaderOptions& options);

    // Turns CodexBar's output into 60 rows: the 30 days ending on now's day in
    // timeZone, codex first, each oldest first, 0 for days the tool did not list.
    // Throws DecodingError for output that is not the expected JSON, and AppError
    // for a provider whose history is incomplete or for implausible totals.
    static UsageSnapshot decode(const QByteArray& data, const QDateTime& now,
                                const QTimeZone& timeZone);
};

} // namespace varno
