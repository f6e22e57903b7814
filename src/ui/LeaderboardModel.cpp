// SPDX-License-Identifier: MIT
#include "ui/LeaderboardModel.h"

#include "model/Formatting.h"
#include "model/OutsideText.h"
#include "model/Ranking.h"

namespace varno {

void LeaderboardModel::setEntries(const QList<LeaderboardEntry>& entries) {
    QStringList keys;
    keys.reserve(entries.size());
    for (const LeaderboardEntry& entry : entries)
        keys.append(entry.id);
    setRows(std::move(keys), entries);
}

QVariant LeaderboardModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const LeaderboardEntry& entry = rowAt(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return personName(entry.name);
    case Qt::AccessibleTextRole:
        return accessibleLabel(entry, index.row());
    default:
        return {};
    }
}

QString LeaderboardModel::placeMarker(int offset, const QLocale& locale) {
    switch (offset) {
    case 0:
        return QStringLiteral("🥇");
    case 1:
        return QStringLiteral("🥈");
    case 2:
        return QStringLiteral("🥉");
    default:
        return locale.toString(offset + 1);
    }
}

QString LeaderboardModel::totalText(const LeaderboardEntry& entry) {
    return showsTotal(entry) ? compactTokens(entry.total) : QStringLiteral("—");
}

QString LeaderboardModel::totalHelp(const LeaderboardEntry& entry, const QLocale& locale) {
    if (!showsTotal(entry))
        return QStringLiteral("No usage synced yet");
    return locale.toString(entry.total) + QStringLiteral(" tokens · Last 30 days");
}

QString LeaderboardModel::accessibleLabel(const LeaderboardEntry& entry, int offset,
                                          const QLocale& locale) {
    const QString who =
        personName(entry.name) + (entry.isMe ? QStringLiteral(" (you)") : QString());
    const QString amount = showsTotal(entry)
                               ? locale.toString(entry.total) + QStringLiteral(" tokens")
                               : QStringLiteral("no usage synced yet");
    return QStringLiteral("Rank %1, %2, %3").arg(offset + 1).arg(who, amount);
}

} // namespace varno
