// SPDX-License-Identifier: MIT
#include "app/PrintUsageCommand.h"
#include "app/VarnoApp.h"
#include "async/Memory.h"
#include "model/Settings.h"

#include <QCoreApplication>
#include <QStringList>

int main(int argc, char* argv[]) {
    varno::memory::tuneAllocator();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    if (arguments == QStringList{QStringLiteral("--print-usage")}) {
        // No display needed: this runs in a terminal, over ssh, in scripts.
        QCoreApplication app(argc, argv);
        const auto settings = varno::settings::openStandardSettings();
        return varno::PrintUsageCommand::run(*settings);
    }

    // Everything else: the tray app, or a request for the one already running.
    return varno::VarnoApp::main(argc, argv);
}
