// SPDX-License-Identifier: MIT
#pragma once

namespace varno {

// Turns SIGTERM, SIGINT and SIGHUP into an orderly QCoreApplication::quit(), so
// that a logout, `kill` or Ctrl+C still runs the quit steps (cancel the jobs,
// flush analytics). Call once, after the application object exists.
void quitOnTerminationSignals();

} // namespace varno
