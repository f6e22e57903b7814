// SPDX-License-Identifier: MIT
#pragma once

#include <QCoroTask>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace varno {

struct InstanceStatus;

// `varno --status`: who is signed in on this machine, with which server, this
// device's id and where the session is kept; and, from a running Varno (asked over
// its socket), when it last uploaded and its last sync error.
class StatusCommand {
public:
    StatusCommand() = delete;

    // The whole command; returns 0 when signed in, exitStatus::notSignedIn otherwise.
    static int main(int argc, char** argv);

    // The running Varno's lines ("Running: …", "Last upload: …", "Last error: …"), from
    // its answer, or from the process that holds the lock when it gave none.
    static QStringList runningLines(const std::optional<InstanceStatus>& running,
                                    std::optional<qint64> process);

private:
    static QCoro::Task<int> run(std::optional<InstanceStatus> running,
                                std::optional<qint64> process, std::FILE* out);
};

} // namespace varno
