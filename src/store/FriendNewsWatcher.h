// SPDX-License-Identifier: MIT
#pragma once

#include "store/FriendNews.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QTimeZone>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace varno {

class AppStore;
class Job;

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
    ~FriendNewsWatcher() override;

    // Dashboards with more rows than this are compared, and their record read and
    // written, on a worker thread: at 100,000 rows that is a few hundred milliseconds.
    static constexpr qsizetype inlineRows = 2000;

    // Whether a load is still being compared in the background.
    bool isDeciding() const { return deciding_ != nullptr; }

    // The "Notifications" setting; on by default. Turned off, loads are still
    // recorded, so turning it on again brings no burst of old news.
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);

signals:
    void notice(const varno::FriendNotice& notice);
    void enabledChanged(bool enabled);

private:
    void dashboardLoaded();
    void decidePending();
    void decided(const QList<FriendNotice>& notices, std::optional<QVariantMap> toStore);
    friend QCoro::Task<void> decideInBackground(QPointer<FriendNewsWatcher> self,
                                                std::shared_ptr<FriendNews::Input> input,
                                                QString iniFile, std::optional<QVariantMap> records,
                                                std::stop_token token);
    QString today() const;

    AppStore* store_;
    QSettings* defaults_;
    Clock clock_;
    bool enabled_;
    // The account of the last load since the session began.
    std::optional<QString> previousAccount_;
    // A load waiting for the one in the background; a newer one replaces it.
    std::optional<FriendNews::Input> pending_;
    std::shared_ptr<Job> deciding_;
};

} // namespace varno
