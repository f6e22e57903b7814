#include "app/PrintUsageCommand.h"
#include "model/Settings.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    if (arguments == QStringList{QStringLiteral("--print-usage")}) {
        // No display needed: this runs in a terminal, over ssh, in scripts.
        QCoreApplication app(argc, argv);
        const auto settings = varno::settings::openStandardSettings();
        return varno::PrintUsageCommand::run(*settings);
    }

    std::fputs("usage: varno --print-usage\n", stderr);
    return 2;
}
