// SPDX-License-Identifier: MIT
#pragma once

#include "model/Records.h"
#include "ui/ScrollAnchor.h"

#include <QListView>

namespace varno {

class AvatarLoader;
class LeaderboardDelegate;
class LeaderboardModel;

// The leaderboard's list: rows 32 high and 4 apart, up to ten in view and the rest
// scrolled to. It costs what is on screen: rows are painted, not built. A sync changes
// rows by id (moves, insertions, removals), and the row under the pointer, or else the
// first row in view, keeps its place on screen meanwhile. Keyboard: Tab reaches it, the
// arrows, Page Up/Down and Home/End move through it with a focus ring on the row.
class LeaderboardList : public QListView {
    Q_OBJECT
public:
    // avatars may be null: only placeholders are drawn then.
    explicit LeaderboardList(AvatarLoader* avatars, QWidget* parent = nullptr);

    LeaderboardModel* leaderboard() const { return model_; }
    LeaderboardDelegate* delegate() const { return delegate_; }
    void setEntries(const QList<LeaderboardEntry>& entries);

    // Rows are this far apart.
    static int stride();

    // Ten rows' worth at most; a shorter screen may get less, and the list scrolls.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool viewportEvent(QEvent* event) override;

private:
    void keepAnchor();
    void fitHeight();

    LeaderboardModel* model_;
    LeaderboardDelegate* delegate_;
    ScrollAnchor anchor_;
};

} // namespace varno
