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
    painter->fillRect(QRectF(cell.left(), bottom, cell.width(), pixel), theme::divider());

    if (current && view && view->hasFocus()) {
        QPen ring(theme::focusRing());
        ring.setCosmetic(true);
        painter->setPen(ring);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(cell.adjusted(0, 0, -pixel, -pixel));
    }
    painter->restore();
}

} // namespace varno
