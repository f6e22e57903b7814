// SPDX-License-Identifier: MIT
#pragma once

#include "model/Records.h"
#include "ui/KeyedListModel.h"

namespace varno {

// One row of the friends sheet: a friend, or an open request in either direction.
struct FriendsRow {
    enum class Kind { friendRow, incoming, outgoing };
    Kind kind = Kind::friendRow;
    QString id; // the friend's, or the request's
    QString name;
};

// The friends sheet's rows: the friends in the server's order, then the open requests.
class FriendsModel : public KeyedRowsModel<FriendsRow> {
public:
    using KeyedRowsModel::KeyedRowsModel;

    void setDashboard(const Dashboard& dashboard);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // What a screen reader says for the row: the name, and for a request whose it is.
    static QString accessibleLabel(const FriendsRow& row);
};

} // namespace varno
