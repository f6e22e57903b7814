#pragma once

#include "model/Records.h"

#include <QLocale>
#include <QWidget>

class QLabel;

namespace varno {

class AvatarLoader;
class AvatarView;
class ElidedLabel;

// One person on the leaderboard: place, picture, name and 30-day total. The row is
// one accessible element whose name says all of it.
class LeaderboardRow : public QWidget {
    Q_OBJECT
public:
    // offset is the 0-based position in the list as shown.
    LeaderboardRow(const LeaderboardEntry& entry, int offset, AvatarLoader* avatars,
                   QWidget* parent = nullptr);

    // "🥇", "🥈", "🥉" for the first three places, then the place number.
    static QString placeMarker(int offset, const QLocale& locale = QLocale());
    // The compact total, or an em dash for someone who never synced.
    static QString totalText(const LeaderboardEntry& entry);
    static QString totalHelp(const LeaderboardEntry& entry, const QLocale& locale = QLocale());
    static QString accessibleLabel(const LeaderboardEntry& entry, int offset,
                                   const QLocale& locale = QLocale());

    const QString& entryId() const { return id_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString id_;
    bool hovered_ = false;
};

} // namespace varno
