#pragma once

#include <QString>
#include <QStringList>

namespace varno {

// What `varno` was asked to do. --print-usage is handled before this by main().
struct CommandLine {
    enum class Action {
        Run,                // start, or ask the running instance to show its panel
        Toggle,             // --toggle: open or close the running instance's panel
        OpenURL,            // varno://…: hand a sign-in callback to the running instance
        RegisterURLHandler, // --register-url-handler: install the varno:// handler
        Development,        // --dev COMMAND: development aid, see VarnoApp
        Help,
        Version,
        Invalid,
    };
    Action action = Action::Run;
    QString argument; // the URL or development command
    QString error;    // for Invalid

    static CommandLine parse(const QStringList& arguments);
    static QString usage();
};

} // namespace varno
