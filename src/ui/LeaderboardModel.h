// SPDX-License-Identifier: MIT
#pragma once

#include "model/Records.h"
#include "ui/KeyedListModel.h"

#include <QLocale>

namespace varno {

// The leaderboard as the panel shows it, one row per person, kept by id. A row's rank
// is its place in the list. To a screen reader each row is one item whose name says
// all of it ("Rank 4, Grace Hopper, 12,345 tokens").
class LeaderboardModel : public KeyedRowsModel<LeaderboardEntry> {
public:
    using KeyedRowsModel::KeyedRowsModel;

    // The rows in this order; ids should be unique, and a repeated one is a row of
    // its own all the same. A long list may take a moment (isUpdating()).
    void setEntries(const QList<LeaderboardEntry>& entries);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // "🥇", "🥈", "🥉" for the first three places, then the place number.
    static QString placeMarker(int offset, const QLocale& locale = QLocale());
    // The compact total, or an em dash for someone with no usage to show.
    static QString totalText(const LeaderboardEntry& entry);
    static QString totalHelp(const LeaderboardEntry& entry, const QLocale& locale = QLocale());
    static QString accessibleLabel(const LeaderboardEntry& entry, int offset,
                                   const QLocale& locale = QLocale());
};

} // namespace varno
