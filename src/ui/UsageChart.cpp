// SPDX-License-Identifier: MIT
#include "ui/UsageChart.h"

#include "ui/Theme.h"
#include "ui/UsageBarDelegate.h"
#include "ui/UsageDaysModel.h"

#include <QEvent>
#include <QHoverEvent>

namespace varno {

UsageChart::UsageChart(QWidget* parent) : QListView(parent), model_(new UsageDaysModel(this)) {
    setModel(model_);
    setItemDelegate(new UsageBarDelegate(this));
    setFlow(QListView::LeftToRight);
    setWrapping(false);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    viewport()->setAutoFillBackground(false);
    setAccessibleName(QStringLiteral("Tokens per day"));
    setFixedSize(sizeHint());
    // The cursor starts on today.
    setCurrentIndex(model_->index(model_->rowCount() - 1));
    connect(this, &QListView::entered, this,
            [this](const QModelIndex& index) { setHovered(index.row()); });
}

void UsageChart::setHistory(UsageHistory history) {
    model_->setHistory(std::move(history));
    lastShown_ = -1; // the same day may have new numbers
    emit shownDayChanged(shownDay());
    lastShown_ = shownDay();
}

int UsageChart::cursorDay() const {
    return currentIndex().isValid() ? currentIndex().row() : model_->rowCount() - 1;
}

int UsageChart::shownDay() const {
    return hovered_ >= 0 ? hovered_ : cursorDay();
}

QSize UsageChart::sizeHint() const {
    return QSize(theme::usageBarStride * UsageHistory::dayCount, theme::usageChartHeight);
}

QSize UsageChart::minimumSizeHint() const {
    return sizeHint();
}

void UsageChart::setHovered(int day) {
    hovered_ = day;
    const int shown = shownDay();
    if (shown != lastShown_) {
        lastShown_ = shown;
        emit shownDayChanged(shown);
    }
}

bool UsageChart::viewportEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::Leave:
    case QEvent::HoverLeave:
        setHovered(-1);
        viewport()->update();
        break;
    case QEvent::HoverMove:
        // Between bars (or past the last) no day is under the pointer.
        if (!indexAt(static_cast<QHoverEvent*>(event)->position().toPoint()).isValid())
            setHovered(-1);
        break;
    default:
        break;
    }
    return QListView::viewportEvent(event);
}

void UsageChart::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QListView::currentChanged(current, previous);
    // The keyboard takes over from the pointer.
    hovered_ = -1;
    setHovered(-1);
    viewport()->update();
}

void UsageChart::focusInEvent(QFocusEvent* event) {
    QListView::focusInEvent(event);
    viewport()->update();
}

void UsageChart::focusOutEvent(QFocusEvent* event) {
    QListView::focusOutEvent(event);
    viewport()->update();
}

} // namespace varno
