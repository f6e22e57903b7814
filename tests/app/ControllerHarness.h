// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/Analytics.h"
#include "app/LoginItem.h"
#include "app/MenuBarController.h"
#include "app/Notifier.h"
#include "async/CancellationError.h"
#include "auth/CallbackRouter.h"
#include "auth/MemorySecretStore.h"
#include "auth/SessionKeychain.h"
#include "store/AppStore.h"
#include "store/FriendNewsWatcher.h"
#include "ui/VarnoView.h"

#include "support/AwaitTask.h"
#include "support/Printers.h"
#include "support/RecordingTelemetry.h"
#include "support/ScriptedHttpServer.h"

#include <QCoroSignal>
#include <QCoroTimer>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>

#include <atomic>
#include <mutex>

namespace varno::test {

// Waits on a 2 ms poll until `done` holds; throws when the token stops first.
inline QCoro::Task<void> pollUntil(std::function<bool()> done, std::stop_token token) {
    QTimer poll;
    poll.start(2);
    // The token first: once the harness is gone its controller has stopped us, and
    // `done` would read the dead harness.
    while (!token.stop_requested() && !done())
        co_await poll;
    if (token.stop_requested())
        throw CancellationError();
}

// Keeps what it was asked to show: "title | body | tag".
class RecordingNotifier : public Notifier {
public:
    void show(const QString& title, const QString& body, const QString& tag) override {
        shown.append(title + " | " + body + " | " + tag);
    }
    QStringList shown;
};

// A controller wired to real parts: the store on the network core against a
// scripted loopback server that answers like the Varno API, an INI settings file,
// an in-memory secret store, the real callback router with a recording browser.
// Every sleep of the sync loop lasts until the test calls tick().
class ControllerHarness {
public:
    ControllerHarness() {
        settings.setValue(QStringLiteral("serverURL"), base());
        server.setHandler([this](const RecordedRequest& request) { return answer(request); });
    }
    ~ControllerHarness() {
        // As at quit: let the controller's tasks see their cancellation and unwind
        // while the harness they poll still exists.
        if (controller)
            controller->applicationWillTerminate();
        controller.reset();
        friendNews.reset();
        store.reset();
        server.stop();
    }

    QString base() const { return server.url(QString()).toString(); }
    SavedSession saved() const {
        return {QStringLiteral("tok-1"),
                User{QStringLiteral("u-alice"), QStringLiteral("Alice"), QStringLiteral("a@x.io")},
                base()};
    }

    MenuBarController& launch() {
        AppStoreActions actions;
        actions.readUsage = [](std::stop_token) -> QCoro::Task<UsageSnapshot> {
            const QDate today = QDate::currentDate();
            co_return UsageSnapshot{
                {DailyUsage{"codex", today.addDays(-1).toString(Qt::ISODate), 20'000},
                 DailyUsage{"codex", today.toString(Qt::ISODate), 1'200'000},
                 DailyUsage{"claude", today.toString(Qt::ISODate), 34'567}},
                QDateTime::currentDateTimeUtc()};
        };
        actions.sendRequest = networkTransport();
        actions.saveSessionAsync = [this](SavedSession s) {
            return SessionKeychain::save(secrets, s);
        };
        actions.clearSessionAsync = [this] { return SessionKeychain::remove(secrets); };
        actions.openGitHub = [this](QUrl url, std::stop_token token) {
            return router.openGitHub(std::move(url), std::move(token));
        };
        store = std::make_unique<AppStore>(false, std::move(actions), &analytics, &settings,
                                           &settings, QVariantMap{});
        MenuBarParts parts;
        parts.store = store.get();
        parts.trayAvailable = [this] { return withTray; };
        parts.readSession =
            [this](std::stop_token token) -> QCoro::Task<std::optional<SavedSession>> {
            co_await pollUntil([this] { return restored; }, token);
            co_return keychainSession;
        };
        parts.panelContent = [this](PanelVisibility*, std::function<void()> onSignIn,
                                    std::function<void()> onCancel) -> QWidget* {
            panelSignIn = std::move(onSignIn);
            panelCancel = std::move(onCancel);
            if (realView)
                return new VarnoView(store.get());
            return new QLabel(QStringLiteral("panel"));
        };
        if (withNotifications) {
            friendNews = std::make_unique<FriendNewsWatcher>(store.get(), &settings);
            parts.friendNews = friendNews.get();
            parts.notifier = notifier;
        }
        if (!realClipboard)
            parts.writeClipboard = [](const QString&) { return true; };
        parts.sleeper = [this](std::chrono::milliseconds interval, std::stop_token token) {
            sleeps.append(interval);
            const int mine = sleeps.size();
            return pollUntil([this, mine] { return ticks >= mine; }, std::move(token));
        };
        if (!realQuit)
            parts.quitApplication = [this] { ++quitRequests; };
        parts.announceNoTray = [this](Notifier*) { ++noTrayNotices; };
        parts.trayRecheck = std::chrono::milliseconds(5);
        parts.desktopBarAt = [this](const QPoint&) { return bar; };
        parts.loginItem = loginItem;
        parts.router = &router;
        controller = std::make_unique<MenuBarController>(std::move(parts));
        controller->applicationDidFinishLaunching();
        return *controller;
    }

    // Ends the current sleep and waits until the loop has gone round once more.
    bool nextPass() {
        const auto before = sleeps.size();
        ++ticks;
        return waitUntil([&] { return sleeps.size() > before; });
    }

    int requestsTo(const QByteArray& method, const QByteArray& path) const {
        int n = 0;
        for (const RecordedRequest& r : server.requests())
            n += r.method == method && r.pathWithoutQuery() == path;
        return n;
    }

    // The browser's return with the given state (by default the one the app sent).
    QString callback(QString state = {}) const {
        for (const RecordedRequest& r : server.requests())
            if (state.isEmpty() && r.pathWithoutQuery() == "/api/auth/github")
                state = QUrlQuery(QUrl(QString::fromUtf8(r.path)).query())
                            .queryItemValue(QStringLiteral("state"));
        return QStringLiteral("varno://auth/callback?state=%1&code=%2")
            .arg(state, QString(64, u'c'));
    }

    ScriptedHttpServer server;
    RecordingTelemetry telemetry;
    Analytics analytics{&telemetry};
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::shared_ptr<MemorySecretStore> secrets = std::make_shared<MemorySecretStore>();
    QList<QUrl> opened;
    CallbackRouter router{[this](const QUrl& url) {
        opened.append(url);
        return true;
    }};

    std::optional<SavedSession> keychainSession;
    bool restored = true; // false holds the keychain read until set
    QList<std::chrono::milliseconds> sleeps;
    int ticks = 0;
    int quitRequests = 0;
    int noTrayNotices = 0;
    std::optional<QRect> bar;                     // the desktop bar under every click
    bool realClipboard = false, realQuit = false; // else fakes that always work
    std::atomic<bool> withReferralCode{true};
    QString referralCode = QStringLiteral("ADA42"); // set before launch
    std::function<void()> panelSignIn, panelCancel;
    std::shared_ptr<LoginItem> loginItem;
    bool realView = false;          // the real panel content instead of a label
    bool withTray = false;          // a status item (drawn nowhere on this platform)
    bool withNotifications = false; // friend news and the recording notifier
    // Friend requests from these people in the dashboard's answers from now on.
    void answerAsking(const QStringList& names) {
        std::lock_guard lock(dashboardMutex);
        asking = names;
    }
    std::shared_ptr<RecordingNotifier> notifier = std::make_shared<RecordingNotifier>();
    std::unique_ptr<AppStore> store;
    std::unique_ptr<FriendNewsWatcher> friendNews;
    std::unique_ptr<MenuBarController> controller;

private:
    std::mutex dashboardMutex;
    QStringList asking; // read on the server's thread

    ScriptedResponse answer(const RecordedRequest& request) {
        const QByteArray path = request.pathWithoutQuery();
        if (path == "/api/auth/github")
            return ScriptedResponse::reply(200, R"({"url":")" + base().toUtf8() +
                                                    R"(/dev/signin?page=1"})");
        if (path == "/api/auth/exchange")
            return ScriptedResponse::reply(
                200,
                R"({"token":"tok-2","user":{"id":"u-alice","name":"Alice","email":"a@x.io"}})");
        if (path == "/api/dashboard") {
            std::lock_guard lock(dashboardMutex);
            Dashboard board{
                saved().user,
                {LeaderboardEntry{"u-alice", "Alice", true, 10, 5, 15, std::nullopt, std::nullopt}},
                {},
                withReferralCode ? std::optional(referralCode) : std::nullopt};
            for (const QString& name : asking)
                board.requests.append(FriendRequest{"q-" + name, name, true, false});
            return ScriptedResponse::reply(200, board.toJson());
        }
        if (path == "/api/usage" || path == "/api/auth/logout")
            return ScriptedResponse::reply(200, R"({"ok":true})");
        return ScriptedResponse::reply(404, R"({"error":"Not found."})");
    }
};

} // namespace varno::test
