// SPDX-License-Identifier: MIT
#include "ui/LeaderboardDelegate.h"

#include "model/Records.h"
#include "ui/Avatar.h"
#include "ui/AvatarLoader.h"
#include "ui/FocusRing.h"
#include "ui/LeaderboardModel.h"
#include "ui/Theme.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

namespace varno {

namespace {
constexpr int spacing = 8;

const LeaderboardEntry& entryAt(const QModelIndex& index) {
    return static_cast<const LeaderboardModel*>(index.model())->rowAt(index.row());
}
} // namespace

LeaderboardDelegate::LeaderboardDelegate(AvatarLoader* avatars, QAbstractItemView* view)
    : QStyledItemDelegate(view), avatars_(avatars), view_(view), placeWidth_(theme::rankWidth) {
    if (avatars_)
        connect(avatars_, &AvatarLoader::loaded, view_->viewport(),
                [this] { view_->viewport()->update(); });
}

void LeaderboardDelegate::fitPlaces(int rows) {
    // Digits are all as wide in the numbers' font, so the last place is the widest.
    const QFontMetrics metrics(theme::monospacedDigitsFont());
    const int widest =
        rows > 3 ? metrics.horizontalAdvance(LeaderboardModel::placeMarker(rows - 1)) : 0;
    placeWidth_ = std::max(theme::rankWidth, widest);
}

LeaderboardDelegate::Parts LeaderboardDelegate::parts(const QRect& rect,
                                                      const LeaderboardEntry& entry) const {
    Parts p;
    // A scroll bar takes its room out of the trailing margin, so that the totals stay
    // under their heading.
    const auto* bar = view_->verticalScrollBar();
    const int trailing = bar->isVisibleTo(view_) ? 0 : theme::trailingMargin - theme::rowInset;
    p.row = QRect(rect.left(), rect.top(), rect.width() - trailing, theme::rowHeight);
    const QRect inner = p.row.adjusted(theme::rowInset, 0, -theme::rowInset, 0);
    p.place = QRect(inner.left(), inner.top(), placeWidth_, inner.height());
    p.avatar =
        QRect(p.place.right() + 1 + spacing, inner.top() + (inner.height() - theme::avatarSize) / 2,
              theme::avatarSize, theme::avatarSize);
    const int totalWidth = QFontMetrics(theme::monospacedDigitsFont())
                               .horizontalAdvance(LeaderboardModel::totalText(entry));
    p.total = QRect(inner.right() + 1 - totalWidth, inner.top(), totalWidth, inner.height());
    const int nameLeft = p.avatar.right() + 1 + spacing;
    p.name = QRect(nameLeft, inner.top(), std::max(0, p.total.left() - spacing - nameLeft),
                   inner.height());
    return p;
}

QImage LeaderboardDelegate::picture(const LeaderboardEntry& entry) const {
    const std::optional<QUrl> url = AvatarLoader::avatarUrl(entry.avatarURL);
    if (!url || !avatars_)
        return {};
    if (std::optional<QImage> cached = avatars_->cached(*url))
        return *cached;
    // Once per address until the next update: a failed picture is not fetched again
    // at every repaint.
    if (!requested_.contains(*url)) {
        requested_.insert(*url);
        avatars_->load(*url);
    }
    return {};
}

void LeaderboardDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const LeaderboardEntry& entry = entryAt(index);
    const Parts p = parts(option.rect, entry);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (option.state & QStyle::State_MouseOver) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(theme::hoverFill());
        painter->drawRoundedRect(QRectF(p.row), 8, 8);
    }
    if ((option.state & QStyle::State_HasFocus) && FocusRing::isVisible(view_)) {
        painter->setPen(QPen(theme::focusRing(), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(p.row).adjusted(1, 1, -1, -1), 7, 7);
    }

    const int row = index.row();
    const bool medal = row < 3;
    painter->setFont(medal ? theme::medalFont() : theme::monospacedDigitsFont());
    painter->setPen(medal ? theme::text() : theme::secondaryText());
    painter->drawText(p.place, Qt::AlignRight | Qt::AlignVCenter,
                      LeaderboardModel::placeMarker(row));

    Avatar::paint(*painter, QRectF(p.avatar), picture(entry));

    painter->setFont(theme::bodyFont());
    painter->setPen(theme::text());
    const QString name = index.data(Qt::DisplayRole).toString();
    painter->drawText(p.name, Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(name, Qt::ElideRight, p.name.width()));

    painter->setFont(theme::monospacedDigitsFont());
    painter->setPen(theme::secondaryText());
    painter->drawText(p.total, Qt::AlignRight | Qt::AlignVCenter,
                      LeaderboardModel::totalText(entry));
    painter->restore();
}

QSize LeaderboardDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return QSize(option.rect.width(), theme::rowHeight + theme::rowSpacing);
}

bool LeaderboardDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                    const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const LeaderboardEntry& entry = entryAt(index);
    const QRect total = parts(option.rect, entry).total;
    if (!total.contains(event->pos())) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), LeaderboardModel::totalHelp(entry), view->viewport(),
                       total);
    return true;
}

} // namespace varno
