// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace varno {

// What `varno` was asked to do. --print-usage is handled before this by main().
struct CommandLine {
    enum class Action {
        Run,                // start, or ask the running instance to show its panel
        Toggle,             // --toggle: open or close the running instance's panel
        OpenURL,            // varno://…: hand a sign-in callback to the running instance
        RegisterURLHandler, // --register-url-handler: install the varno:// handler
        Development,        // --dev COMMAND: development aid, see VarnoApp
        SignIn,             // --sign-in [--server URL]: sign in from a terminal
        Headless,           // --headless: the sync service, without a desktop
        Leaderboard,        // --leaderboard: print the 30-day leaderboard
        Status,             // --status: who is signed in, where, and how syncing goes
        Help,
        Version,
        Invalid,
    };
    Action action = Action::Run;
    QString argument;              // the URL or development command
    std::optional<QString> server; // --server, for --sign-in
    QString error;                 // for Invalid

    static CommandLine parse(const QStringList& arguments);

    // One entry of the help: the option as typed ("-h, --help", "--dev COMMAND"; empty
    // for starting without one) and what it does. The usage line, the help and the
    // shell completion (which reads the help) all come from this table.
    struct Option {
        QString synopsis;
        QString description;
        QString section = {}; // a heading that starts a group of options, if any
    };
    static const QList<Option>& options();
    // The usage line and every option, wrapped to 80 columns.
    static QString usage();
};

} // namespace varno
