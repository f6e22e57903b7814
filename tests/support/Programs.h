// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>

namespace varno::test {

// The built `varno` program, or an empty text where the build defines none (tests that
// need it skip then).
inline QString varnoProgramPath() {
#ifdef VARNO_TOOL_VARNO
    return QStringLiteral(VARNO_TOOL_VARNO);
#else
    return QString();
#endif
}

// A program run to its end.
struct Finished {
    int exitCode = -1; // -1: it did not end normally in time
    QString out, err;
};

// Runs a program to its end (killed after the timeout) with this environment and input.
Finished
runProgram(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
           const QByteArray& input = {},
           std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace varno::test
