// SPDX-License-Identifier: MIT
#pragma once

#include <QCoroTask>
#include <QString>

#include <functional>
#include <optional>

namespace varno {

class SingleInstance;
struct InstanceStatus;

// What the `varno` commands share in starting and running.
class CommandRunner {
public:
    CommandRunner() = delete;

    // What to tell the user about the Varno that already runs (none: it did not say).
    using Advice = std::function<QString(const std::optional<InstanceStatus>&)>;

    // Makes this process the user's one Varno. Returns an exit status when it cannot:
    // another Varno runs (said on standard error, which one and the advice for it),
    // or the lock cannot be had.
    static std::optional<int> claim(SingleInstance& instance, int argc, char** argv,
                                    const Advice& advice);
    // Once the application object exists: SIGTERM, SIGINT and SIGHUP quit it, and the
    // instance takes requests. Returns an exit status when it cannot listen.
    static std::optional<int> listen(SingleInstance& instance);
    // Runs the command on an event loop to its end (an application object must exist):
    // its status, or 1 after saying what it threw.
    static int runToEnd(std::function<QCoro::Task<int>()> command);
};

} // namespace varno
