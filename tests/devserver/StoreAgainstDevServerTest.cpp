// SPDX-License-Identifier: MIT
#include "DevServerApi.h"

#include "auth/MemorySecretStore.h"
#include "auth/SessionKeychain.h"
#include "model/Formatting.h"
#include "store/AppStore.h"

#include "support/AwaitTask.h"
#include "support/DevServerProcess.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace varno;
using namespace varno::test;

namespace {

QString today() {
    return localDay(QDateTime::currentDateTimeUtc(), QTimeZone::systemTimeZone());
}

UsageSnapshot todaysUsage(qint64 codex, qint64 claude) {
    return UsageSnapshot{{DailyUsage{QStringLiteral("codex"), today(), codex},
                          DailyUsage{QStringLiteral("claude"), today(), claude}},
                         QDateTime::currentDateTimeUtc()};
}

QCoro::Task<UsageSnapshot> readingOf(UsageSnapshot snapshot) {
    co_return snapshot;
}

// A stand-in browser: the user picks an account on the development sign-in page,
// which redirects to the varno:// callback.
QCoro::Task<QString> pickAccount(QNetworkAccessManager* network, QUrl page, QString account) {
    QUrlQuery query(page);
    query.addQueryItem(QStringLiteral("account"), account);
    page.setQuery(query);
    QNetworkRequest request(page);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(10000);
    std::unique_ptr<QNetworkReply> reply(network->get(request));
    co_await qCoro(reply.get()).waitForFinished();
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 302)
        throw AppError(QStringLiteral("GitHub sign-in did not complete."));
    co_return QString::fromUtf8(reply->rawHeader("Location"));
}

// One installation of the app: its own settings file (and so its own device id),
// its own secret store, talking to the development server.
struct Installation {
    Installation(const DevServerProcess& server, QString account = QStringLiteral("ann"))
        : settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat),
          account(std::move(account)) {
        settings.setValue(QStringLiteral("serverURL"), server.baseUrl());
        AppStoreActions actions;
        actions.readUsage = [this](std::stop_token) { return readingOf(usage); };
        actions.sendRequest = networkTransport();
        actions.saveSessionAsync = [this](SavedSession s) {
            return SessionKeychain::save(secrets, s);
        };
        actions.clearSessionAsync = [this] { return SessionKeychain::remove(secrets); };
        actions.openGitHub = [this](QUrl url, std::stop_token) {
            return pickAccount(&network, url, this->account);
        };
        store = std::make_unique<AppStore>(false, actions, &analytics, &settings, &settings,
                                           QVariantMap{});
    }

    const LeaderboardEntry* row(const QString& id) const {
        for (const LeaderboardEntry& e : store->dashboard()->leaderboard)
            if (e.id == id)
                return &e;
        return nullptr;
    }

    QTemporaryDir dir;
    QSettings settings;
    QString account;
    QNetworkAccessManager network;
    std::shared_ptr<MemorySecretStore> secrets = std::make_shared<MemorySecretStore>();
    Analytics analytics;
    UsageSnapshot usage = todaysUsage(1000, 200);
    std::unique_ptr<AppStore> store;
};

} // namespace

TEST(StoreAgainstDevServer, SignInSyncSignOutAndTheOldTokenIsRefused) {
    DevServerProcess server;
    DevServerApi api(server);
    api.createUser(QStringLiteral("ann"), QStringLiteral("Ann"));
    Installation app(server);
    AppStore& store = *app.store;

    awaitTask(store.loginWithGitHub(), 20s);

    ASSERT_EQ(store.error(), std::nullopt);
    ASSERT_TRUE(store.session().has_value());
    EXPECT_EQ(store.session()->user.id, QStringLiteral("ann"));
    EXPECT_EQ(store.session()->serverURL, server.baseUrl());
    EXPECT_EQ(awaitTask(SessionKeychain::read(app.secrets)), store.session());
    // The first sync ran inside the sign-in: uploaded and on the leaderboard.
    EXPECT_TRUE(store.lastSynced().has_value());
    ASSERT_TRUE(store.dashboard().has_value());
    ASSERT_NE(app.row(QStringLiteral("ann")), nullptr);
    EXPECT_EQ(app.row(QStringLiteral("ann"))->total, 1200);
    EXPECT_FALSE(store.busy());

    const SavedSession old = *store.session();
    awaitTask(store.logout(), 10s);
    EXPECT_EQ(store.error(), std::nullopt);
    EXPECT_EQ(store.session(), std::nullopt);
    EXPECT_EQ(app.secrets->itemCount(), 0);

    // The server ended that session: using it again signs the store out with the
    // server's own message.
    store.setSession(old);
    awaitTask(store.refresh(true), 10s);
    EXPECT_EQ(store.session(), std::nullopt);
    EXPECT_EQ(store.dashboard(), std::nullopt);
    ASSERT_TRUE(store.error().has_value());
    EXPECT_NE(store.error(), ServerClient::unavailableMessage);
    EXPECT_FALSE(store.busy());
}

TEST(StoreAgainstDevServer, AnswersFriendRequests) {
    DevServerProcess server;
    DevServerApi api(server);
    for (const char* id : {"ann", "bob", "cat", "dan"})
        api.createUser(QString::fromLatin1(id), QString::fromLatin1(id).toUpper());
    const QString fromBob = api.befriend(QStringLiteral("bob"), QStringLiteral("ann"), false);
    const QString fromCat = api.befriend(QStringLiteral("cat"), QStringLiteral("ann"), false);
    const QString toDan = api.befriend(QStringLiteral("ann"), QStringLiteral("dan"), false);

    Installation app(server);
    AppStore& store = *app.store;
    store.setSession(SavedSession{api.tokenFor(QStringLiteral("ann")),
                                  User{QStringLiteral("ann"), QStringLiteral("ANN"), QString()},
                                  server.baseUrl()});
    awaitTask(store.refresh(false), 10s);
    ASSERT_EQ(store.error(), std::nullopt);
    ASSERT_EQ(store.dashboard()->requests.size(), 3);
    EXPECT_EQ(app.row(QStringLiteral("bob")), nullptr);

    awaitTask(store.updateFriend(fromBob, true), 10s);  // accept
    awaitTask(store.updateFriend(fromCat, false), 10s); // decline
    awaitTask(store.updateFriend(toDan, false), 10s);   // cancel
    EXPECT_EQ(store.error(), std::nullopt);
    EXPECT_NE(app.row(QStringLiteral("bob")), nullptr);
    EXPECT_EQ(app.row(QStringLiteral("cat")), nullptr);
    for (const FriendRequest& r : store.dashboard()->requests)
        EXPECT_TRUE(r.id == fromBob && r.accepted) << r.id.toStdString();

    // Answering a request that is gone shows the server's message.
    awaitTask(store.updateFriend(fromCat, true), 10s);
    ASSERT_TRUE(store.error().has_value());
    EXPECT_NE(store.error(), ServerClient::unavailableMessage);
    EXPECT_FALSE(store.busy());
}

TEST(StoreAgainstDevServer, TwoDevicesAddUp) {
    DevServerProcess server;
    DevServerApi api(server);
    api.createUser(QStringLiteral("ann"), QStringLiteral("Ann"));
    Installation laptop(server);
    Installation desktop(server);
    laptop.usage = todaysUsage(100, 10);
    desktop.usage = todaysUsage(250, 0);
    awaitTask(laptop.store->loginWithGitHub(), 20s);
    awaitTask(desktop.store->loginWithGitHub(), 20s);
    ASSERT_NE(laptop.store->deviceId(), desktop.store->deviceId());

    awaitTask(laptop.store->refresh(false), 10s);
    ASSERT_EQ(laptop.store->error(), std::nullopt);
    const LeaderboardEntry* ann = laptop.row(QStringLiteral("ann"));
    ASSERT_NE(ann, nullptr);
    EXPECT_EQ(ann->codex, 350);
    EXPECT_EQ(ann->claude, 10);

    // A newer reading from the same device replaces its day instead of adding to it.
    laptop.usage = todaysUsage(150, 10);
    awaitTask(laptop.store->refresh(true), 10s);
    EXPECT_EQ(laptop.row(QStringLiteral("ann"))->codex, 400);
}
