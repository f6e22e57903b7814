#pragma once

#include "model/Records.h"

#include <QLocale>
#include <QWidget>

#include <optional>

class QLabel;

namespace varno {

class AvatarLoader;
class AvatarView;
class ElidedLabel;

// One person on the leaderboard: place, picture, name and 30-day total. To
// accessibility the row is one list item whose name says all of it; its parts are
// not exposed.
class LeaderboardRow : public QWidget {
    Q_OBJECT
public:
    // offset is the 0-based position in the list as shown.
    LeaderboardRow(const LeaderboardEntry& entry, int offset, AvatarLoader* avatars,
                   QWidget* parent = nullptr);

    // Shows another state of the same person (or another place) in place, so that the
    // row does not flicker; the picture is fetched again only when its address changed.
    void setEntry(const LeaderboardEntry& entry, int offset);

    // "🥇", "🥈", "🥉" for the first three places, then the place number.
    static QString placeMarker(int offset, const QLocale& locale = QLocale());
    // The compact total, or an em dash for someone who never synced.
    static QString totalText(const LeaderboardEntry& entry);
    static QString totalHelp(const LeaderboardEntry& entry, const QLocale& locale = QLocale());
    static QString accessibleLabel(const LeaderboardEntry& entry, int offset,
                                   const QLocale& locale = QLocale());

    const QString& entryId() const { return entry_.id; }
    int offset() const { return offset_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void showPlace(int offset);

    LeaderboardEntry entry_;
    int offset_ = -1;
    std::optional<bool> placeIsMedal_;
    AvatarLoader* avatars_;
    QLabel* place_;
    AvatarView* avatar_;
    ElidedLabel* name_;
    QLabel* total_;
    bool hovered_ = false;
};

} // namespace varno
