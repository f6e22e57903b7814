// SPDX-License-Identifier: MIT
#include "model/Ranking.h"

#include <algorithm>

namespace varno {

QList<LeaderboardEntry> rankedOrder(QList<LeaderboardEntry> rows) {
    // Usually nothing moves: leave the list shared then.
    if (std::all_of(rows.cbegin(), rows.cend(), hasTokenCount))
        return rows;
    std::stable_partition(rows.begin(), rows.end(), hasTokenCount);
    return rows;
}

} // namespace varno
