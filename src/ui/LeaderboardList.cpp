// SPDX-License-Identifier: MIT
#include "ui/LeaderboardList.h"

#include "ui/LeaderboardDelegate.h"
#include "ui/LeaderboardModel.h"
#include "ui/Theme.h"

#include <QEvent>
#include <QScrollBar>

#include <algorithm>

namespace varno {

LeaderboardList::LeaderboardList(AvatarLoader* avatars, QWidget* parent)
    : QListView(parent), model_(new LeaderboardModel(this)),
      delegate_(new LeaderboardDelegate(avatars, this)) {
    setModel(model_);
    setItemDelegate(delegate_);
    setUniformItemSizes(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    // The keyboard's way in; a click on a row leaves no ring behind.
    setFocusPolicy(Qt::TabFocus);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    viewport()->setAutoFillBackground(false);
    setAccessibleName(QStringLiteral("Leaderboard"));
    verticalScrollBar()->setSingleStep(stride());
    // Rows are laid out 36 apart, the last one's gap included; the viewport reaches that
    // gap past the list's bottom edge, so that scrolled to the end the last row ends
    // where the list does.
    setViewportMargins(0, 0, 0, -theme::rowSpacing);

    connect(model_, &KeyedListModel::aboutToApply, this,
            [this] { anchor_.capture(*model_, *this, stride()); });
    connect(model_, &KeyedListModel::applied, this, &LeaderboardList::keepAnchor);
}

int LeaderboardList::stride() {
    return theme::rowHeight + theme::rowSpacing;
}

void LeaderboardList::setEntries(const QList<LeaderboardEntry>& entries) {
    model_->setEntries(entries);
}

void LeaderboardList::keepAnchor() {
    delegate_->fitPlaces(model_->rowCount());
    delegate_->forgetRequests();
    fitHeight();
    // Lay out now, so that the scroll range covers the new rows before the anchor is
    // put back.
    executeDelayedItemsLayout();
    if (const std::optional<int> scroll = anchor_.scrollAfter(*model_, stride()))
        verticalScrollBar()->setValue(*scroll);
    viewport()->update();
}

void LeaderboardList::fitHeight() {
    const int height = theme::leaderboardListHeight(model_->rowCount());
    setMinimumHeight(std::min(height, theme::rowHeight));
    setMaximumHeight(height);
    updateGeometry();
}

QSize LeaderboardList::sizeHint() const {
    return QSize(QListView::sizeHint().width(), theme::leaderboardListHeight(model_->rowCount()));
}

QSize LeaderboardList::minimumSizeHint() const {
    return QSize(0, std::min(theme::leaderboardListHeight(model_->rowCount()), theme::rowHeight));
}

bool LeaderboardList::viewportEvent(QEvent* event) {
    // The highlight follows the pointer out of the list, too.
    if (event->type() == QEvent::Leave || event->type() == QEvent::HoverLeave)
        viewport()->update();
    return QListView::viewportEvent(event);
}

} // namespace varno
