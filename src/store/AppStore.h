// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/Analytics.h"
#include "model/Records.h"
#include "store/HttpTransport.h"
#include "store/ServerClient.h"

#include <QCoroTask>
#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QTimeZone>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace varno {

// Every outside effect of the store. Empty actions get the defaults noted here.
struct AppStoreActions {
    // Reads local usage (CodexBarReader::read in the app). Required.
    std::function<QCoro::Task<UsageSnapshot>(std::stop_token)> readUsage;
    // Default: networkTransport over a network manager the store owns.
    SendRequest sendRequest;
    // Consulted at construction, only when restoreSession is true.
    std::function<std::optional<SavedSession>()> readSession;
    // Synchronous keychain actions, run on the main thread; saveSession throws
    // AppError with the keychain messages. Fine for stores that answer at once.
    std::function<void(const SavedSession&)> saveSession;
    std::function<void()> clearSession;
    // Asynchronous forms, preferred when set. When neither form is given the store
    // uses SessionKeychain on the platform's secret store, without blocking.
    std::function<QCoro::Task<void>(SavedSession)> saveSessionAsync;
    std::function<QCoro::Task<void>()> clearSessionAsync;
    // The browser sign-in: opens the URL and returns the varno:// callback URL.
    // Throws SignInCancelled (or CancellationError) for the quiet cancelled outcome.
    // Without one, sign-in fails with "Could not open GitHub sign-in.".
    std::function<QCoro::Task<QString>(QUrl, std::stop_token)> openGitHub;
    // The clock and the zone whose calendar day the dashboard is asked for.
    // Default: the system's.
    std::function<QDateTime()> now;
    std::function<QTimeZone()> timeZone;
};

// The one observable state of the app: the session, the last local reading, the
// last dashboard, whether an operation runs, the last error. Lives on the main
// thread; operations run there and suspend only while they await an action. The
// busy flag keeps operations from overlapping; no path leaves it set.
class AppStore : public QObject {
    Q_OBJECT
public:
    // standardDefaults: the user's own settings (the server address is read from
    // it, and written there after a sign-in). defaults: where the device id and the
    // hidden friends live. The app passes the same object for both. Neither is owned.
    AppStore(bool restoreSession, AppStoreActions actions, Analytics* analytics,
             QSettings* defaults, QSettings* standardDefaults, QVariantMap bundleInfo,
             QObject* parent = nullptr);
    ~AppStore() override;

    // Observed fields. busy, error, lastSynced, serverURL and the hidden friends
    // notify only when their value changes; session, snapshot and dashboard on
    // every assignment. Every assignment of session also updates analytics.
    const std::optional<SavedSession>& session() const { return session_; }
    void setSession(std::optional<SavedSession> session);
    const std::optional<UsageSnapshot>& snapshot() const { return snapshot_; }
    const std::optional<Dashboard>& dashboard() const { return dashboard_; }
    void setDashboard(std::optional<Dashboard> dashboard);
    bool busy() const { return busy_; }
    void setBusy(bool busy);
    const std::optional<QString>& error() const { return error_; }
    void setError(std::optional<QString> error);
    const std::optional<QDateTime>& lastSynced() const { return lastSynced_; }
    // Why the last reading of local usage failed (the reader's message); none once a
    // reading works. The snapshot keeps the last good reading meanwhile.
    const std::optional<QString>& usageError() const { return usageError_; }
    const QString& serverURL() const { return serverURL_; }
    void setServerURL(QString serverURL);
    const QString& deviceId() const { return deviceId_; }
    // True while loginWithGitHub waits for the browser to come back.
    bool waitingForBrowser() const { return waitingForBrowser_; }
    Analytics* analytics() const { return analytics_; }
    const QMap<QString, QStringList>& hiddenFriendsByAccount() const { return hiddenFriends_; }
    // The store's clock and the zone whose calendar days it counts in.
    QDateTime now() const;
    QTimeZone timeZone() const;
    // The product web site that invite links point to.
    const QUrl& websiteURL() const { return websiteURL_; }

    // The guarded sync: reads usage, uploads it when sync is true and signed in,
    // reloads the dashboard. Returns at once while busy. Never throws.
    QCoro::Task<void> refresh(bool sync, std::stop_token token = {});
    // Signs out on the server and, always, on this machine. Never throws.
    QCoro::Task<void> logout(std::stop_token token = {});
    // The browser sign-in, then the first sync, all in one busy period. Never throws;
    // the outcome shows in session and error (nothing for a cancelled sign-in).
    QCoro::Task<void> loginWithGitHub(std::stop_token token = {});
    // Accepts (PATCH) or declines/cancels (DELETE) a friend request. Never throws;
    // failures land in error.
    QCoro::Task<void> updateFriend(QString requestId, bool accept, std::stop_token token = {});
    // Loads the dashboard alone, without reading or uploading usage, and keeps it.
    // Throws what the request throws; not guarded by busy (the sync, friend answers,
    // the invite link and `varno --leaderboard` call it inside their own periods).
    QCoro::Task<void> loadDashboard(std::stop_token token);
    // The invite link, reloading the dashboard once when it has no code yet.
    // Throws AppError (or the reload's own error).
    QCoro::Task<QUrl> loadReferralURL(std::stop_token token = {});

    // The key that per-account settings are kept under: the session's server address
    // without surrounding spaces and slashes, a line feed, the user's id. None while
    // signed out.
    std::optional<QString> accountKey() const { return friendVisibilityAccount(); }
    // The leaderboard without the friends hidden under the current account, in the
    // server's order except that rows whose total is no count come last.
    QList<LeaderboardEntry> visibleLeaderboard() const;
    bool isFriendHidden(const QString& id) const;
    // Hides or shows a friend on this machine; nothing while signed out or for the
    // user's own id.
    void setFriendHidden(const QString& id, bool hidden);
    // The invite link for the dashboard's referral code, if there is one.
    std::optional<QUrl> referralURL() const;

    // The server calls. request throws what ServerClient::send throws (a 401 while
    // signed in signs the store out first). mutate returns at once with false while
    // busy; otherwise it holds busy, sends, captures the event, reloads the
    // dashboard, and returns whether both worked, with any failure in error.
    template <typename T>
    QCoro::Task<T> request(QString path, QByteArray method, std::optional<QByteArray> body = {},
                           std::stop_token token = {}) {
        return client_.request<T>(std::move(path), std::move(method), std::move(body),
                                  std::move(token));
    }
    QCoro::Task<bool> mutate(QString path, QByteArray method, std::optional<QByteArray> body,
                             std::optional<Analytics::Event> event, std::stop_token token = {});
    static bool isExpectedCancellation(std::exception_ptr error, std::stop_token token) {
        return ServerClient::isExpectedCancellation(error, token);
    }

signals:
    void sessionChanged();
    void snapshotChanged();
    void dashboardChanged();
    // A dashboard came from the server (after dashboardChanged); not sent when it
    // is cleared.
    void dashboardLoaded();
    void busyChanged();
    void errorChanged();
    void usageErrorChanged();
    void serverURLChanged();
    void hiddenFriendsChanged();
    void waitingForBrowserChanged();

private:
    QCoro::Task<void> refreshUsage(bool sync, std::stop_token token);
    QCoro::Task<void> saveSession(SavedSession session);
    void clearSession();
    void sessionRejected();
    void setSnapshot(std::optional<UsageSnapshot> snapshot);
    void setLastSynced(std::optional<QDateTime> lastSynced);
    void setWaitingForBrowser(bool waiting);
    void setUsageError(std::optional<QString> error);
    std::optional<QString> friendVisibilityAccount() const;

    AppStoreActions actions_;
    std::unique_ptr<Analytics> ownAnalytics_;
    Analytics* analytics_;
    QSettings* defaults_;
    QSettings* standardDefaults_;
    QUrl websiteURL_;
    ServerClient client_;

    std::optional<SavedSession> session_;
    std::optional<UsageSnapshot> snapshot_;
    std::optional<Dashboard> dashboard_;
    bool busy_ = false;
    std::optional<QString> error_;
    std::optional<QDateTime> lastSynced_;
    std::optional<QString> usageError_;
    QString serverURL_;
    QString deviceId_;
    QMap<QString, QStringList> hiddenFriends_;
    bool waitingForBrowser_ = false;
};

} // namespace varno
