// SPDX-License-Identifier: MIT
#include "ui/FriendsModel.h"

#include "model/OutsideText.h"

namespace varno {

void FriendsModel::setDashboard(const Dashboard& dashboard) {
    QStringList keys;
    QList<FriendsRow> rows;
    keys.reserve(dashboard.leaderboard.size() + dashboard.requests.size());
    rows.reserve(keys.capacity());
    // Friends by their id; a request by its id and direction (one that changed
    // direction is another row).
    for (const LeaderboardEntry& entry : dashboard.leaderboard) {
        if (entry.isMe)
            continue;
        keys.append(entry.id);
        rows.append({FriendsRow::Kind::friendRow, entry.id, entry.name});
    }
    for (const FriendRequest& request : dashboard.requests) {
        if (request.accepted)
            continue;
        keys.append((request.incoming ? QStringLiteral("\x01from ") : QStringLiteral("\x01to ")) +
                    request.id);
        rows.append({request.incoming ? FriendsRow::Kind::incoming : FriendsRow::Kind::outgoing,
                     request.id, request.name});
    }
    setRows(std::move(keys), std::move(rows));
}

QVariant FriendsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const FriendsRow& row = rowAt(index.row());
    if (role == Qt::DisplayRole)
        return personName(row.name);
    if (role == Qt::AccessibleTextRole)
        return accessibleLabel(row);
    return {};
}

QString FriendsModel::accessibleLabel(const FriendsRow& row) {
    const QString name = personName(row.name);
    switch (row.kind) {
    case FriendsRow::Kind::incoming:
        return QStringLiteral("Friend request from ") + name;
    case FriendsRow::Kind::outgoing:
        return QStringLiteral("Your friend request to ") + name;
    default:
        return name;
    }
}

} // namespace varno
