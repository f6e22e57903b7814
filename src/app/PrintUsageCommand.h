// SPDX-License-Identifier: MIT
#pragma once

#include "usage/CodexBarReader.h"

#include <QByteArray>
#include <QCoroTask>
#include <QSettings>

#include <cstdio>
#include <stop_token>

namespace varno {

// `varno --print-usage`: reads local usage as a sync does and prints the upload body
// that the next sync would send, so that a user can see exactly what leaves the machine.
class PrintUsageCommand {
public:
    PrintUsageCommand() = delete;

    // The upload body: this installation's device id (created on first use), the
    // reading's time in UTC and its 60 rows.
    static QCoro::Task<QByteArray> uploadBody(QSettings& settings, std::stop_token token = {},
                                              ReaderOptions options = {});

    // Runs the command on the current thread's event loop (a QCoreApplication is
    // enough) and returns the exit status: 0 after printing the body to out, 1 after
    // printing the error's message to err. SIGINT and SIGTERM cancel the reading,
    // so that the tool is stopped rather than left running.
    static int run(QSettings& settings, ReaderOptions options = {}, std::FILE* out = stdout,
                   std::FILE* err = stderr);
};

} // namespace varno
