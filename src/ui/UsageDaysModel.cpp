// SPDX-License-Identifier: MIT
#include "ui/UsageDaysModel.h"

namespace varno {

UsageDaysModel::UsageDaysModel(QObject* parent)
    : QAbstractListModel(parent),
      history_(QDateTime::currentDateTimeUtc(), QTimeZone::systemTimeZone()) {}

void UsageDaysModel::setHistory(UsageHistory history) {
    history_ = std::move(history);
    emit dataChanged(index(0), index(rowCount() - 1));
}

int UsageDaysModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(history_.days().size());
}

QVariant UsageDaysModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::AccessibleTextRole)
        return UsageHistory::spoken(history_.days().at(index.row()));
    return {};
}

} // namespace varno
