// SPDX-License-Identifier: MIT
#pragma once

#include "model/UsageHistory.h"

#include <QAbstractListModel>

namespace varno {

// The usage chart's 30 days as list rows, oldest first. To a screen reader each day is
// one item that says all of it ("Monday 1 December, 1,234,567 tokens: Codex 1,000,000,
// Claude Code 234,567"). The rows stay the same 30 when the numbers change, so that the
// chart's day cursor keeps its place.
class UsageDaysModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit UsageDaysModel(QObject* parent = nullptr);

    const UsageHistory& history() const { return history_; }
    void setHistory(UsageHistory history);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    UsageHistory history_;
};

} // namespace varno
