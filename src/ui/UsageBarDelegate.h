// SPDX-License-Identifier: MIT
#pragma once

#include <QStyledItemDelegate>

namespace varno {

// Paints one day of the usage chart: Codex at the bottom, Claude Code stacked on it,
// scaled to the busiest day, on a baseline that runs under every day (a day without
// usage is a bar of no height, not a gap). Edges fall on device pixels, so the bars
// stay sharp at any scale. The day under the cursor or the pointer gets a column
// behind it, and a ring while the chart has the keyboard.
class UsageBarDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace varno
