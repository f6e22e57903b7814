// SPDX-License-Identifier: MIT
#pragma once

#include "model/Records.h"

#include <QCoroTask>
#include <QStringList>

#include <cstdio>
#include <stop_token>

namespace varno {

// `varno --leaderboard`: the 30-day leaderboard of this machine's account, as the
// panel shows it, printed on standard output. Works whether or not a Varno runs.
class LeaderboardCommand {
public:
    LeaderboardCommand() = delete;

    // The whole command; returns the exit status.
    static int main(int argc, char** argv);

    // The printed lines for the leaderboard as shown (hidden friends already left
    // out): place, name ("(you)" on the user's row) and compact total, "—" for no
    // usage yet; "No usage yet" for an empty board. Names are cut to one line of
    // printable characters, so a name cannot steer the terminal.
    static QStringList lines(const QList<LeaderboardEntry>& board);

private:
    static QCoro::Task<int> run(std::FILE* out, std::FILE* err);
};

} // namespace varno
