// SPDX-License-Identifier: MIT
#include "support/Programs.h"

#include <QProcess>

namespace varno::test {

Finished runProgram(const QString& program, const QStringList& arguments,
                    const QProcessEnvironment& environment, const QByteArray& input,
                    std::chrono::milliseconds timeout) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    const bool ended = process.waitForFinished(int(timeout.count())) &&
                       process.exitStatus() == QProcess::NormalExit;
    if (!ended)
        process.kill();
    return {ended ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

} // namespace varno::test
