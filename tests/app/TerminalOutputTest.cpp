// SPDX-License-Identifier: MIT
// What the commands for machines without a desktop print.

#include "app/InstanceStatus.h"
#include "app/LeaderboardCommand.h"
#include "app/StatusCommand.h"

#include "model/Json.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace varno;

TEST(TerminalOutput, LeaderboardIsTheBoardAsThePanelShowsIt) {
    const QString synced = QStringLiteral("2026-03-01T12:00:00Z");
    const QList<LeaderboardEntry> board{
        {"g", "Grace Hopper", false, 0, 0, 2'500'000, synced, {}},
        // A name must not reach the terminal's control sequences or break the row.
        {"me", "Ada\x1b]0;pwned\x07 Love\nlace", true, 0, 0, 1'234, synced, {}},
        {"e", "Edsger Dijkstra", false, 0, 0, 99, std::nullopt, {}}, // never synced
    };
    EXPECT_EQ(LeaderboardCommand::lines(board),
              (QStringList{"   Leaderboard, last 30 days     Tokens",
                           "1  Grace Hopper                    2.5M",
                           "2  Ada ]0;pwned Love lace (you)   1.23K",
                           "3  Edsger Dijkstra                    —"}));
    EXPECT_EQ(LeaderboardCommand::lines({}), QStringList{"No usage yet"});
}

TEST(TerminalOutput, StatusSaysWhatTheRunningVarnoTold) {
    InstanceStatus running;
    running.mode = InstanceStatus::Mode::headless;
    running.process = 42;
    running.lastUpload = QDateTime(QDate(2026, 3, 1), QTime(11, 0, 3), Qt::UTC);
    running.lastError = QStringLiteral("Varno is unavailable.\nCheck the server address.");
    // Across the socket and back.
    const InstanceStatus told = decodeJson<InstanceStatus>(running.toJson());
    EXPECT_EQ(StatusCommand::runningLines(told, 42),
              (QStringList{"Running:     as a service (varno --headless, process 42)",
                           "Last upload: " +
                               running.lastUpload->toLocalTime().toString("yyyy-MM-dd HH:mm:ss"),
                           "Last error:  Varno is unavailable. Check the server address."}));
    EXPECT_EQ(StatusCommand::runningLines(std::nullopt, 42),
              QStringList{"Running:     process 42, which did not answer"});
    EXPECT_EQ(StatusCommand::runningLines(std::nullopt, std::nullopt),
              QStringList{"Running:     no"});
}
