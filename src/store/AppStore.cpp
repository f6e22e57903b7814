// SPDX-License-Identifier: MIT
#include "store/AppStore.h"

#include "async/Background.h"
#include "async/CancellationError.h"
#include "async/Job.h"
#include "auth/GitHubLogin.h"
#include "auth/SessionKeychain.h"
#include "auth/SignInCancelled.h"
#include "model/Errors.h"
#include "model/Formatting.h"
#include "model/Json.h"
#include "model/Ranking.h"
#include "model/Settings.h"
#include "model/ThisComputer.h"
#include "model/UrlText.h"
#include "store/ScopeExit.h"
#include "store/ServerRecords.h"

#include <QPointer>
#include <QSet>

#include <stdexcept>

namespace varno {

namespace {

QString signOutMessage() {
    return QStringLiteral("Signed out on %1. The server was unavailable, so its session will "
                          "expire automatically.")
        .arg(thisComputer());
}
const QString signInAgainMessage = QStringLiteral("Sign in to Varno and try again.");
const QString noInviteMessage =
    QStringLiteral("Invite links are not available on this server yet.");
const QString invalidServerMessage = QStringLiteral("Invalid GitHub sign-in server.");
const QString cannotOpenSignInMessage = QStringLiteral("Could not open GitHub sign-in.");
const QString badFriendRequestMessage = QStringLiteral("Could not answer this friend request.");
const QString defaultWebsite = QStringLiteral("https://varno.app");

QUrl chooseWebsite(const QVariantMap& bundleInfo) {
    const QVariant value = bundleInfo.value(QStringLiteral("VarnoWebsiteURL"));
    if (value.typeId() == QMetaType::QString) {
        const QUrl url(value.toString(), QUrl::StrictMode);
        if (url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty() &&
            url.userInfo().isEmpty())
            return url;
    }
    return QUrl(defaultWebsite);
}

// Holds the busy flag for one operation and lets go of it on every way out, also
// when the store is gone by then.
class BusyPeriod {
public:
    explicit BusyPeriod(AppStore* store) : store_(store) { store->setBusy(true); }
    ~BusyPeriod() {
        if (store_)
            store_->setBusy(false);
    }
    BusyPeriod(const BusyPeriod&) = delete;
    BusyPeriod& operator=(const BusyPeriod&) = delete;

private:
    QPointer<AppStore> store_;
};

bool isSignInCancelled(std::exception_ptr error, std::stop_token token) {
    try {
        std::rethrow_exception(error);
    } catch (const SignInCancelled&) {
        return true;
    } catch (...) {
        return ServerClient::isExpectedCancellation(error, token);
    }
}

} // namespace

AppStore::AppStore(bool restoreSession, AppStoreActions actions, Analytics* analytics,
                   QSettings* defaults, QSettings* standardDefaults, QVariantMap bundleInfo,
                   QObject* parent)
    : QObject(parent), actions_(std::move(actions)),
      ownAnalytics_(analytics ? nullptr : std::make_unique<Analytics>()),
      analytics_(analytics ? analytics : ownAnalytics_.get()), defaults_(defaults),
      standardDefaults_(standardDefaults), websiteURL_(chooseWebsite(bundleInfo)),
      client_(ServerClient::Inputs{
          [self = QPointer<AppStore>(this)] { return self ? self->serverURL_ : QString(); },
          [self = QPointer<AppStore>(this)] {
              return self ? self->session_ : std::optional<SavedSession>();
          },
          actions_.sendRequest ? actions_.sendRequest : networkTransport(),
          [self = QPointer<AppStore>(this)] {
              if (self)
                  self->sessionRejected();
          }}) {
    if (restoreSession && actions_.readSession)
        session_ = actions_.readSession();
    serverURL_ = settings::chooseServerURL(*standardDefaults_, bundleInfo);
    hiddenFriends_ = settings::readHiddenFriends(*defaults_);
    deviceId_ = settings::loadOrCreateDeviceId(*defaults_);
}

AppStore::~AppStore() = default;

// --- Observed fields ---

void AppStore::setSession(std::optional<SavedSession> session) {
    session_ = std::move(session);
    analytics_->syncUser(session_ ? std::optional<User>(session_->user) : std::nullopt);
    emit sessionChanged();
}

void AppStore::setSnapshot(std::optional<UsageSnapshot> snapshot) {
    snapshot_ = std::move(snapshot);
    emit snapshotChanged();
}

void AppStore::setDashboard(std::optional<Dashboard> dashboard) {
    std::optional<Dashboard> previous = std::exchange(dashboard_, std::move(dashboard));
    emit dashboardChanged();
    // Freeing a dashboard of many thousands of rows takes tens of milliseconds: the
    // last reference to a large one goes on a worker thread (the rows are shared, so
    // handing it over is cheap).
    if (previous && previous->leaderboard.size() + previous->requests.size() > 1000)
        freeInBackground(std::move(*previous));
}

void AppStore::setBusy(bool busy) {
    if (busy_ == busy)
        return;
    busy_ = busy;
    emit busyChanged();
}

void AppStore::setError(std::optional<QString> error) {
    if (error_ == error)
        return;
    error_ = std::move(error);
    emit errorChanged();
}

void AppStore::setUsageError(std::optional<QString> error) {
    if (usageError_ == error)
        return;
    usageError_ = std::move(error);
    emit usageErrorChanged();
}

void AppStore::setLastSynced(std::optional<QDateTime> lastSynced) {
    if (lastSynced_ == lastSynced)
        return;
    lastSynced_ = std::move(lastSynced);
}

void AppStore::setServerURL(QString serverURL) {
    if (serverURL_ == serverURL)
        return;
    serverURL_ = std::move(serverURL);
    emit serverURLChanged();
}

void AppStore::setWaitingForBrowser(bool waiting) {
    if (waitingForBrowser_ == waiting)
        return;
    waitingForBrowser_ = waiting;
    emit waitingForBrowserChanged();
}

QDateTime AppStore::now() const {
    return actions_.now ? actions_.now() : QDateTime::currentDateTimeUtc();
}

QTimeZone AppStore::timeZone() const {
    return actions_.timeZone ? actions_.timeZone() : QTimeZone::systemTimeZone();
}

// --- Keychain actions ---

QCoro::Task<void> AppStore::saveSession(SavedSession session) {
    if (actions_.saveSessionAsync) {
        auto save = actions_.saveSessionAsync;
        co_await save(std::move(session));
    } else if (actions_.saveSession) {
        actions_.saveSession(session);
    } else {
        co_await SessionKeychain::save(SessionKeychain::systemStore(), std::move(session));
    }
}

void AppStore::clearSession() {
    if (actions_.clearSessionAsync) {
        // Nothing is reported, so nothing waits for it; the secret store runs its
        // jobs in order, so a later save still comes after this delete.
        Job::start([clear = actions_.clearSessionAsync](std::stop_token) { return clear(); });
    } else if (actions_.clearSession) {
        actions_.clearSession();
    } else {
        Job::start([](std::stop_token) {
            return SessionKeychain::remove(SessionKeychain::systemStore());
        });
    }
}

void AppStore::sessionRejected() {
    clearSession();
    setSession(std::nullopt);
    setDashboard(std::nullopt);
}

// --- Sync cycle ---

QCoro::Task<void> AppStore::refresh(bool sync, std::stop_token token) {
    if (busy_ || token.stop_requested())
        co_return;
    BusyPeriod period(this);
    setError(std::nullopt);
    co_await refreshUsage(sync, token);
}

QCoro::Task<void> AppStore::refreshUsage(bool sync, std::stop_token token) {
    QPointer<AppStore> self(this);

    std::exception_ptr failure;
    std::optional<UsageSnapshot> reading;
    try {
        if (!actions_.readUsage)
            throw std::logic_error("This build has no way to read local usage.");
        auto readUsage = actions_.readUsage;
        reading = co_await readUsage(token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        if (isExpectedCancellation(failure, token))
            co_return;
        const QString message = describeError(failure);
        setUsageError(message);
        setError(message);
    } else {
        if (token.stop_requested())
            co_return;
        setUsageError(std::nullopt);
        setSnapshot(std::move(reading));
    }

    if (!session_ || token.stop_requested())
        co_return;

    if (sync && snapshot_ && !error_) {
        failure = nullptr;
        try {
            const UsageUpload upload{deviceId_, utcTimestamp(snapshot_->collectedAt),
                                     snapshot_->daily};
            co_await client_.request<OK>(QStringLiteral("usage"), "POST", upload.toJson(), token);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self)
            co_return;
        if (failure) {
            if (!isExpectedCancellation(failure, token))
                setError(describeError(failure));
            co_return;
        }
        setLastSynced(now());
        analytics_->capture(Analytics::Event::usageSyncCompleted);
    }

    failure = nullptr;
    try {
        co_await loadDashboard(token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (self && failure && !isExpectedCancellation(failure, token))
        setError(describeError(failure));
}

QCoro::Task<void> AppStore::loadDashboard(std::stop_token token) {
    QPointer<AppStore> self(this);
    const QString day = localDay(now(), timeZone());
    // The dashboard shown meanwhile, shared (not copied) with the decoding thread. A
    // named variable: GCC 12 mishandles a temporary function object in a co_await.
    std::function<void(std::optional<Dashboard>&)> shareTexts =
        [shown = dashboard_](std::optional<Dashboard>& loaded) {
            if (loaded && shown)
                loaded->shareTextsWith(*shown);
        };
    std::optional<Dashboard> dashboard = co_await client_.request<std::optional<Dashboard>>(
        QStringLiteral("dashboard?date=") + day, "GET", std::nullopt, token, std::move(shareTexts));
    if (!self)
        co_return;
    const bool loaded = dashboard.has_value();
    setDashboard(std::move(dashboard));
    if (loaded)
        emit dashboardLoaded();
}

QCoro::Task<void> AppStore::logout(std::stop_token token) {
    if (busy_)
        co_return;
    QPointer<AppStore> self(this);
    BusyPeriod period(this);
    bool failed = false;
    try {
        co_await client_.request<OK>(QStringLiteral("auth/logout"), "POST", QByteArray("{}"),
                                     token);
    } catch (...) {
        failed = true;
    }
    if (!self)
        co_return;
    if (failed)
        setError(signOutMessage());
    clearSession();
    setSession(std::nullopt);
    setDashboard(std::nullopt);
    setLastSynced(std::nullopt);
}

// --- Sign-in ---

QCoro::Task<void> AppStore::loginWithGitHub(std::stop_token token) {
    if (busy_)
        co_return;
    QPointer<AppStore> self(this);
    BusyPeriod period(this);
    setError(std::nullopt);

    std::exception_ptr failure;
    SavedSession signedIn;
    try {
        const QString verifier = GitHubLogin::randomToken();
        const QString state = GitHubLogin::randomToken();
        const Start start =
            co_await client_.request<Start>(QStringLiteral("auth/github?challenge=%1&state=%2")
                                                .arg(GitHubLogin::challenge(verifier), state),
                                            "GET", std::nullopt, token);
        if (!self)
            co_return;

        // The browser only ever goes to the server's own origin. Scheme and host are
        // compared as written: QUrl would have lower-cased both.
        const QUrl server(serverURL_, QUrl::StrictMode);
        const UrlText startWritten = UrlText::split(start.urlText);
        const UrlText serverWritten = UrlText::split(serverURL_);
        if (!server.isValid() || startWritten.scheme != serverWritten.scheme ||
            startWritten.host != serverWritten.host || start.url.port() != server.port())
            throw AppError(invalidServerMessage);

        if (!actions_.openGitHub)
            throw AppError(cannotOpenSignInMessage);
        QString callback;
        {
            setWaitingForBrowser(true);
            const ScopeExit notWaiting([self] {
                if (self)
                    self->setWaitingForBrowser(false);
            });
            auto openGitHub = actions_.openGitHub;
            callback = co_await openGitHub(start.url, token);
        }
        if (!self)
            co_return;
        const QString code = GitHubLogin::code(callback, state);

        const QByteArray exchange =
            JsonObjectWriter().add("code", code).add("verifier", verifier).finish();
        const LoginResponse login = co_await client_.request<LoginResponse>(
            QStringLiteral("auth/exchange"), "POST", exchange, token);
        if (!self)
            co_return;

        signedIn = SavedSession{login.token, login.user, serverURL_};
        co_await saveSession(signedIn);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        setError(isSignInCancelled(failure, token) ? std::nullopt
                                                   : std::optional(describeError(failure)));
        co_return;
    }

    setSession(signedIn);
    standardDefaults_->setValue(settings::serverURLKey, signedIn.serverURL);
    standardDefaults_->sync();
    co_await refreshUsage(true, token);
}

// --- Server mutations ---

QCoro::Task<bool> AppStore::mutate(QString path, QByteArray method, std::optional<QByteArray> body,
                                   std::optional<Analytics::Event> event, std::stop_token token) {
    if (busy_)
        co_return false;
    QPointer<AppStore> self(this);
    BusyPeriod period(this);
    setError(std::nullopt);
    std::exception_ptr failure;
    try {
        co_await client_.request<OK>(std::move(path), std::move(method), std::move(body), token);
        if (!self)
            co_return false;
        if (event)
            analytics_->capture(*event);
        co_await loadDashboard(token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return false;
    if (failure) {
        setError(describeError(failure));
        co_return false;
    }
    co_return true;
}

QCoro::Task<void> AppStore::updateFriend(QString requestId, bool accept, std::stop_token token) {
    if (busy_)
        co_return;
    // The id must stay one path segment: "/" and "?" are escaped, and a segment of
    // dots (which URL normalisation would resolve) is never sent.
    if (requestId.isEmpty() || requestId == QLatin1String(".") ||
        requestId == QLatin1String("..")) {
        setError(badFriendRequestMessage);
        co_return;
    }
    const QString path =
        QStringLiteral("friends/") + QString::fromLatin1(QUrl::toPercentEncoding(requestId));
    co_await mutate(path, accept ? "PATCH" : "DELETE", QByteArray("{}"), std::nullopt, token);
}

// --- Friends and invite link ---

std::optional<QString> AppStore::friendVisibilityAccount() const {
    if (!session_)
        return std::nullopt;
    return trimmedServerAddress(session_->serverURL) + QLatin1Char('\n') + session_->user.id;
}

QList<LeaderboardEntry> AppStore::visibleLeaderboard() const {
    if (!dashboard_)
        return {};
    const std::optional<QString> account = friendVisibilityAccount();
    const auto list = account ? hiddenFriends_.constFind(*account) : hiddenFriends_.constEnd();
    if (list == hiddenFriends_.constEnd() || list->isEmpty())
        return rankedOrder(dashboard_->leaderboard);
    const QSet<QString> hidden(list->cbegin(), list->cend());
    QList<LeaderboardEntry> visible;
    visible.reserve(dashboard_->leaderboard.size());
    for (const LeaderboardEntry& entry : dashboard_->leaderboard) {
        if (entry.isMe || !hidden.contains(entry.id))
            visible.append(entry);
    }
    return rankedOrder(std::move(visible));
}

bool AppStore::isFriendHidden(const QString& id) const {
    const std::optional<QString> account = friendVisibilityAccount();
    if (!account)
        return false;
    const auto hidden = hiddenFriends_.constFind(*account);
    return hidden != hiddenFriends_.constEnd() && hidden->contains(id);
}

void AppStore::setFriendHidden(const QString& id, bool hidden) {
    const std::optional<QString> account = friendVisibilityAccount();
    if (!account || id == session_->user.id)
        return;
    QStringList ids = hiddenFriends_.value(*account);
    if (hidden)
        ids.append(id);
    else
        ids.removeAll(id);
    ids.sort();
    ids.removeDuplicates();

    QMap<QString, QStringList> updated = hiddenFriends_;
    updated.insert(*account, ids);
    const bool changed = updated != hiddenFriends_;
    hiddenFriends_ = std::move(updated);
    settings::writeHiddenFriends(*defaults_, hiddenFriends_);
    if (changed)
        emit hiddenFriendsChanged();
}

std::optional<QUrl> AppStore::referralURL() const {
    if (!session_ || !dashboard_ || !dashboard_->referralCode)
        return std::nullopt;
    QUrl url = websiteURL_;
    url.setPath(QStringLiteral("/"));
    url.setFragment(QString());
    // Everything but unreserved characters is escaped, so "&", "#" or "+" in a
    // code can't change the link's meaning.
    url.setQuery(QStringLiteral("r=") +
                     QString::fromLatin1(QUrl::toPercentEncoding(*dashboard_->referralCode)),
                 QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QCoro::Task<QUrl> AppStore::loadReferralURL(std::stop_token token) {
    if (const std::optional<QUrl> url = referralURL())
        co_return *url;
    if (!session_ || busy_)
        throw AppError(signInAgainMessage);
    QPointer<AppStore> self(this);
    BusyPeriod period(this);
    co_await loadDashboard(token);
    if (self) {
        if (const std::optional<QUrl> url = referralURL())
            co_return *url;
    }
    throw AppError(noInviteMessage);
}

} // namespace varno
