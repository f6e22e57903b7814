// SPDX-License-Identifier: MIT
#pragma once

#include "model/Records.h"

#include <QList>

namespace varno {

// Whether a leaderboard total is a count of tokens. A negative one is not: such a row
// shows as no usage and ranks after every count.
inline bool hasTokenCount(const LeaderboardEntry& entry) {
    return entry.total >= 0;
}

// Whether the row shows its total: the person has synced, and the total is a count.
inline bool showsTotal(const LeaderboardEntry& entry) {
    return entry.syncedAt.has_value() && hasTokenCount(entry);
}

// The rows in the order they are ranked: the server's, with the rows whose total is no
// count moved to the end, in the order they came.
QList<LeaderboardEntry> rankedOrder(QList<LeaderboardEntry> rows);

} // namespace varno
