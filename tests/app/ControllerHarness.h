#pragma once

#include "analytics/Analytics.h"
#include "app/MenuBarController.h"
#include "async/CancellationError.h"
#include "async/Sleep.h"
#include "auth/CallbackRouter.h"
#include "auth/MemorySecretStore.h"
#include "auth/SessionKeychain.h"
#include "model/Errors.h"
#include "store/AppStore.h"

#include "Gate.h"
#include "support/AwaitTask.h"
#include "support/ScriptedHttpServer.h"

#include <QCoroSignal>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace varno::test {

// Records what the analytics wrapper asks of the client, in order.
class CountingTelemetry : public TelemetryClient {
public:
    void setup(const TelemetryConfig&) override {}
    QString getDistinctId() override {
        return identified.isEmpty() ? QStringLiteral("anon") : identified;
    }
    QString getAnonymousId() override { return QStringLiteral("anon"); }
    void identify(const QString& id, const QVariantMap&) override {
        identified = id;
        calls.append(QStringLiteral("identify ") + id);
    }
    void reset() override {
        identified.clear();
        calls.append(QStringLiteral("reset"));
    }
    void capture(const QString& event, const QVariantMap&) override {
        calls.append(QStringLiteral("capture ") + event);
    }
    void flush() override {
        ++flushes;
        calls.append(QStringLiteral("flush"));
    }
    QStringList captures() const { return calls.filter(QStringLiteral("capture ")); }

    QString identified;
    QStringList calls;
    int flushes = 0;
};

inline User alice() {
    return User{QStringLiteral("u-alice"), QStringLiteral("Alice"), QStringLiteral("alice@x.io")};
}

inline UsageSnapshot sampleSnapshot() {
    return UsageSnapshot{{DailyUsage{QStringLiteral("codex"), QStringLiteral("2026-12-05"), 1200},
                          DailyUsage{QStringLiteral("claude"), QStringLiteral("2026-12-05"), 7}},
                         QDateTime::currentDateTimeUtc()};
}

// A dashboard answer: Alice first, then one friend, and the referral code if any.
inline QByteArray dashboardJson(std::optional<QString> referralCode) {
    QByteArray json =
        R"({"user":{"id":"u-alice","name":"Alice","email":"alice@x.io"},"leaderboard":[)"
        R"({"id":"u-alice","name":"Alice","isMe":true,"codex":10,"claude":5,"total":15},)"
        R"({"id":"u-bob","name":"Bob","isMe":false,"codex":1,"claude":1,"total":2}],"requests":[])";
    if (referralCode)
        json += R"(,"referralCode":")" + referralCode->toUtf8() + '"';
    return json + '}';
}

// A controller wired to real parts: the store on Qt's network stack against a
// scripted loopback server that answers like the Varno API, an INI settings file,
// an in-memory secret store, the real callback router with a recording browser.
class ControllerHarness {
public:
    ControllerHarness() : analytics(&telemetry) {
        settings = std::make_unique<QSettings>(dir.filePath(QStringLiteral("settings.ini")),
                                               QSettings::IniFormat);
        settings->setValue(QStringLiteral("serverURL"), base());
        server.setHandler([this](const RecordedRequest& request) { return answer(request); });
    }
    ~ControllerHarness() {
        controller.reset();
        store.reset();
        server.stop();
    }

    QString base() const { return server.url(QString()).toString(); }

    // Builds the store and the controller; launch() runs the launch sequence.
    MenuBarController& make() {
        AppStoreActions actions;
        actions.readUsage = [this](std::stop_token) -> QCoro::Task<UsageSnapshot> {
            ++readings;
            co_return sampleSnapshot();
        };
        actions.sendRequest = networkTransport(&network);
        actions.saveSessionAsync = [this](SavedSession s) {
            return SessionKeychain::save(secrets, s);
        };
        actions.clearSessionAsync = [this] { return SessionKeychain::remove(secrets); };
        actions.openGitHub = [this](QUrl url, std::stop_token token) {
            return router.openGitHub(std::move(url), std::move(token));
        };
        store = std::make_unique<AppStore>(false, std::move(actions), &analytics, settings.get(),
                                           settings.get(), QVariantMap{});

        MenuBarParts parts;
        parts.store = store.get();
        parts.trayAvailable = [this] { return trayAvailable; };
        parts.trayRecheck = std::chrono::milliseconds(10);
        parts.readSession = [this](std::stop_token token) { return readSession(token); };
        parts.panelContent = [this](PanelVisibility*, std::function<void()> onSignIn,
                                    std::function<void()> onCancel) -> QWidget* {
            panelSignIn = std::move(onSignIn);
            panelCancel = std::move(onCancel);
            auto* label = new QLabel(QStringLiteral("panel"));
            label->setFixedSize(320, 120);
            return label;
        };
        parts.writeClipboard = [this](const QString& text) {
            clipboardWrites.append(text);
            return clipboardWorks;
        };
        parts.sleeper = [this](std::chrono::milliseconds interval, std::stop_token token) {
            return sleepUntilTicked(interval, std::move(token));
        };
        parts.updater = updater;
        parts.quitApplication = [this] { ++quitRequests; };
        controller = std::make_unique<MenuBarController>(std::move(parts));
        return *controller;
    }

    MenuBarController& launch() {
        make();
        controller->applicationDidFinishLaunching();
        return *controller;
    }

    // Launches with a saved session and waits for the first sync to finish.
    MenuBarController& launchSignedIn() {
        keychainSession = SavedSession{QStringLiteral("tok-1"), alice(), base()};
        secrets->setItem(SessionKeychain::service, SessionKeychain::key, keychainSession->toJson());
        launch();
        EXPECT_TRUE(waitUntil([&] { return dashboardLoads >= 1 && !store->busy(); }));
        return *controller;
    }

    int requestsTo(const QByteArray& method, const QByteArray& path) const {
        int n = 0;
        for (const RecordedRequest& r : server.requests())
            if (r.method == method && r.pathWithoutQuery() == path)
                ++n;
        return n;
    }

    // The state the app sent to the browser page, from the recorded start request.
    QString startState() const {
        for (const RecordedRequest& r : server.requests())
            if (r.pathWithoutQuery() == "/api/auth/github")
                return QUrlQuery(QUrl(QString::fromUtf8(r.path)).query())
                    .queryItemValue(QStringLiteral("state"));
        return {};
    }
    QUrl callback(const QString& state) const {
        return QUrl(
            QStringLiteral("varno://auth/callback?state=%1&code=%2").arg(state, QString(64, u'c')));
    }

    ScriptedHttpServer server;
    CountingTelemetry telemetry;
    Analytics analytics;
    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
    QNetworkAccessManager network;
    std::shared_ptr<MemorySecretStore> secrets = std::make_shared<MemorySecretStore>();
    QList<QUrl> opened;
    CallbackRouter router{[this](const QUrl& url) {
        opened.append(url);
        return true;
    }};

    std::optional<SavedSession> keychainSession;
    Gate* restorationGate = nullptr; // when set, the keychain read waits for it
    bool trayAvailable = false;
    std::optional<Updater> updater;
    // Each sleep of the sync loop lasts until the test calls tick().
    void tick() { ++ticks; }
    // Ticks and waits until the loop has gone round once more.
    bool nextPass() {
        const auto before = sleeps.size();
        tick();
        return waitUntil([&] { return sleeps.size() > before; });
    }
    QList<std::chrono::milliseconds> sleeps;
    bool clipboardWorks = true;
    QStringList clipboardWrites;
    int quitRequests = 0;
    int readings = 0;
    std::atomic<int> dashboardLoads{0};
    std::optional<QString> referralCode = QStringLiteral("ADA42");
    std::atomic<int> usageStatus{200};

    std::function<void()> panelSignIn;
    std::function<void()> panelCancel;

    std::unique_ptr<AppStore> store;
    std::unique_ptr<MenuBarController> controller;

private:
    QCoro::Task<void> sleepUntilTicked(std::chrono::milliseconds interval, std::stop_token token) {
        sleeps.append(interval);
        const int mine = sleeps.size();
        QTimer poll;
        poll.start(2);
        while (ticks < mine && !token.stop_requested())
            co_await qCoro(&poll, &QTimer::timeout);
        if (token.stop_requested())
            throw CancellationError();
    }

    int ticks = 0;

    QCoro::Task<std::optional<SavedSession>> readSession(std::stop_token token) {
        if (restorationGate)
            co_await restorationGate->wait(token);
        co_return keychainSession;
    }

    ScriptedResponse answer(const RecordedRequest& request) {
        const QByteArray path = request.pathWithoutQuery();
        if (path == "/api/auth/github")
            return ScriptedResponse::reply(200, R"({"url":")" + base().toUtf8() +
                                                    R"(/dev/signin?page=1"})");
        if (path == "/api/auth/exchange")
            return ScriptedResponse::reply(
                200,
                R"({"token":"tok-2","user":{"id":"u-alice","name":"Alice","email":"alice@x.io"}})");
        if (path == "/api/usage")
            return usageStatus == 200
                       ? ScriptedResponse::reply(200, R"({"ok":true})")
                       : ScriptedResponse::reply(usageStatus, R"({"error":"Nope."})");
        if (path == "/api/dashboard") {
            ++dashboardLoads;
            return ScriptedResponse::reply(200, dashboardJson(referralCode));
        }
        if (path == "/api/auth/logout")
            return ScriptedResponse::reply(200, R"({"ok":true})");
        return ScriptedResponse::reply(404, R"({"error":"Not found."})");
    }
};

} // namespace varno::test
