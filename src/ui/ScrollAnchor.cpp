// SPDX-License-Identifier: MIT
#include "ui/ScrollAnchor.h"

#include "ui/KeyedListModel.h"

#include <QAbstractScrollArea>
#include <QCursor>
#include <QScrollBar>

#include <algorithm>

namespace varno {

namespace {
// How far past a vanished anchor to look for a row that stayed.
constexpr int fallbackRows = 256;
} // namespace

void ScrollAnchor::capture(const KeyedListModel& model, const QAbstractScrollArea& area,
                           int stride) {
    const int scroll = area.verticalScrollBar()->value();
    const std::optional<int> pointer = pointerY(area);
    const int count = model.rowCount();
    active_ = count > 0 && stride > 0 && (pointer || scroll > 0);
    if (!active_)
        return;
    const int y = scroll + std::max(0, pointer.value_or(0));
    row_ = std::min(y / stride, count - 1);
    offset_ = row_ * stride - scroll;
    keys_ = model.keys().mid(row_, fallbackRows);
}

std::optional<int> ScrollAnchor::scrollAfter(const KeyedListModel& model, int stride) const {
    if (!active_)
        return std::nullopt;
    int row = -1;
    for (const QString& key : keys_) {
        row = model.rowOf(key);
        if (row >= 0)
            break;
    }
    if (row < 0)
        row = std::min(row_, model.rowCount() - 1);
    if (row < 0)
        return std::nullopt;
    return std::max(0, row * stride - offset_);
}

std::optional<int> ScrollAnchor::pointerY(const QAbstractScrollArea& area) {
    // Qt's own account (which knows when another of our windows covers the list), and
    // where the pointer is: the account can stay behind when the row under the
    // pointer goes away.
    const QWidget* viewport = area.viewport();
    const QPoint at = viewport->mapFromGlobal(QCursor::pos());
    if (!area.isVisible() || !viewport->underMouse() || !viewport->rect().contains(at))
        return std::nullopt;
    return at.y();
}

} // namespace varno
