#pragma once

#include "store/FriendNews.h"

#include <QDateTime>
#include <QObject>
#include <QSettings>
#include <QTimeZone>

#include <functional>
#include <optional>

namespace varno {

class AppStore;

// Turns the store's dashboard loads into desktop notifications: a new incoming friend
// request, a friend who passed the user. What each load showed is kept per account
// in the settings, so a restart or a sign-out repeats nothing; the first load after
// a start, a sign-in or an account switch only records.
class FriendNewsWatcher : public QObject {
    Q_OBJECT
public:
    // The clock and the zone whose calendar day limits "passed you" to once a day.
    // Default: the system's.
    struct Clock {
        std::function<QDateTime()> now;
        std::function<QTimeZone()> timeZone;
    };

    // Neither is owned; both outlive the watcher.
    FriendNewsWatcher(AppStore* store, QSettings* defaults, Clock clock = {},
                      QObject* parent = nullptr);

    // The "Notifications" setting; on by default. Turned off, loads are still
    // recorded, so turning it on again brings no burst of old news.
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);

signals:
    void notice(const varno::FriendNotice& notice);
    void enabledChanged(bool enabled);

private:
    void dashboardLoaded();
    QString today() const;

    AppStore* store_;
    QSettings* defaults_;
    Clock clock_;
    bool enabled_;
    // The account of the last load since the session began.
    std::optional<QString> previousAccount_;
};

} // namespace varno
