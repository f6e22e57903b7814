// SPDX-License-Identifier: MIT
#include "ui/UsageBarDelegate.h"

#include "ui/Theme.h"
#include "ui/UsageDaysModel.h"

#include <QAbstractItemView>
#include <QPainter>

#include <cmath>

namespace varno {

namespace {

// Room above the busiest bar, for the column behind it to show.
constexpr int headroom = 4;

} // namespace

QSize UsageBarDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return QSize(theme::usageBarStride, theme::usageChartHeight);
}

void UsageBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const auto* model = qobject_cast<const UsageDaysModel*>(index.model());
    if (!model)
        return;
    const UsageDay& day = model->history().days().at(index.row());
    const qint64 peak = model->history().peak();
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    const bool current = view && view->currentIndex() == index;
    const bool hovered = option.state.testFlag(QStyle::State_MouseOver);

    const qreal ratio = painter->device()->devicePixelRatioF();
    const auto snap = [ratio](qreal v) { return std::round(v * ratio) / ratio; };
    const qreal pixel = 1.0 / ratio;
    const QRectF cell = option.rect;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    if (current || hovered)
        painter->fillRect(cell, theme::hoverFill());

    const qreal bottom = cell.bottom() + 1 - pixel; // the baseline's own pixel row
    const qreal room = cell.height() - headroom - pixel;
    const qreal left = snap(cell.left() + (cell.width() - theme::usageBarWidth) / 2.0);
    const qreal right = snap(left + theme::usageBarWidth);
    // Each stack edge is placed from the bottom on a device pixel; a day with some usage
    // gets at least one pixel of each provider it used.
    const auto height = [&](qint64 tokens) {
        if (tokens <= 0 || peak <= 0)
            return 0.0;
        return std::max(pixel, snap(room * double(tokens) / double(peak)));
    };
    const qreal codexTop = bottom - height(day.codex);
    const qreal claudeTop = codexTop - height(day.claude);
    painter->fillRect(QRectF(left, codexTop, right - left, bottom - codexTop),
                      theme::codexColour());
    painter->fillRect(QRectF(left, claudeTop, right - left, codexTop - claudeTop),
                      theme::claudeColour());
    // Strong enough that days without usage read as days on the axis.
    QColor axis = theme::secondaryText();
    axis.setAlphaF(axis.alphaF() * 0.5);
    painter->fillRect(QRectF(cell.left(), bottom, cell.width(), pixel), axis);

    if (current && view && view->hasFocus()) {
        // Four one-pixel edges inside the cell, on device pixels like the bars.
        const QColor ring = theme::focusRing();
        const qreal top = snap(cell.top()), edge = snap(cell.right() + 1) - pixel;
        painter->fillRect(QRectF(cell.left(), top, cell.width(), pixel), ring);
        painter->fillRect(QRectF(cell.left(), bottom, cell.width(), pixel), ring);
        painter->fillRect(QRectF(snap(cell.left()), top, pixel, bottom - top), ring);
        painter->fillRect(QRectF(edge, top, pixel, bottom - top), ring);
    }
    painter->restore();
}

} // namespace varno
