// SPDX-License-Identifier: MIT
#pragma once

#include <QSet>
#include <QStyledItemDelegate>
#include <QUrl>

namespace varno {

class AvatarLoader;
struct LeaderboardEntry;

// Paints one leaderboard row: place (medal or number), picture, name and 30-day total,
// with the hover highlight, and the keyboard's focus ring on the current row. The
// total's help shows when the pointer rests on the total.
class LeaderboardDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    LeaderboardDelegate(AvatarLoader* avatars, QAbstractItemView* view);

    // Where the parts of a row lie in the view's rectangle for it.
    struct Parts {
        QRect row; // the highlight
        QRect place;
        QRect avatar;
        QRect name;
        QRect total;
    };
    Parts parts(const QRect& rect, const LeaderboardEntry& entry) const;

    // The place column, as wide as the widest place in the list.
    int placeWidth() const { return placeWidth_; }
    void fitPlaces(int rows);

    // Pictures that failed are asked for again after the next update.
    void forgetRequests() { requested_.clear(); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    QImage picture(const LeaderboardEntry& entry) const;

    AvatarLoader* avatars_;
    QAbstractItemView* view_;
    int placeWidth_;
    mutable QSet<QUrl> requested_;
};

} // namespace varno
