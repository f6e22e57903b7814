#pragma once

#include "analytics/Analytics.h"
#include "async/CancellationError.h"
#include "auth/MemorySecretStore.h"
#include "auth/SessionKeychain.h"
#include "model/Errors.h"
#include "store/AppStore.h"

#include "support/AwaitTask.h"
#include "support/ScriptedHttpServer.h"

#include <QCoroTimer>
#include <QCoroSignal>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <ostream>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"' << bytes.toStdString() << '"';
}

namespace varno::test {

// Records what the wrapper asks of the analytics client, and how many requests the
// server had seen at each capture.
class RecordingTelemetry : public TelemetryClient {
public:
    explicit RecordingTelemetry(const ScriptedHttpServer* server = nullptr) : server_(server) {}
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
        requestsSeenAtCapture.append(server_ ? server_->requestCount() : -1);
    }
    void flush() override {}

    QStringList captures() const { return calls.filter(QStringLiteral("capture ")); }

    QString identified;
    QStringList calls;
    QList<int> requestsSeenAtCapture;

private:
    const ScriptedHttpServer* server_;
};

inline User alice() {
    return User{QStringLiteral("u-alice"), QStringLiteral("Alice"), QStringLiteral("alice@x.io")};
}

inline UsageSnapshot sampleSnapshot(qint64 tokens = 1200) {
    return UsageSnapshot{{DailyUsage{QStringLiteral("codex"), QStringLiteral("2026-12-05"), tokens},
                          DailyUsage{QStringLiteral("claude"), QStringLiteral("2026-12-05"), 7}},
                         QDateTime(QDate(2026, 12, 5), QTime(5, 6, 3, 700), Qt::UTC)};
}

// A dashboard answer with "me" first and the given friends after it.
inline QByteArray dashboardJson(const QStringList& friendIds = {},
                                std::optional<QString> referralCode = std::nullopt,
                                const QByteArray& requests = "[]") {
    QByteArray rows =
        R"({"id":"u-alice","name":"Alice","isMe":true,"codex":10,"claude":5,"total":15})";
    for (const QString& id : friendIds)
        rows += R"(,{"id":")" + id.toUtf8() + R"(","name":"F )" + id.toUtf8() +
                R"(","isMe":false,"codex":1,"claude":1,"total":2})";
    QByteArray json =
        R"({"user":{"id":"u-alice","name":"Alice","email":"alice@x.io"},"leaderboard":[)" + rows +
        R"(],"requests":)" + requests;
    if (referralCode)
        json += R"(,"referralCode":")" + referralCode->toUtf8() + '"';
    return json + '}';
}

// A store wired to real parts: the scripted server over Qt's network stack, an
// INI settings file in a temporary folder, an in-memory secret store, and a usage
// reader whose outcome each test chooses.
class StoreHarness {
public:
    enum class Reading { snapshot, failure, waitForCancel };

    StoreHarness() : telemetry(&server), analytics(&telemetry) {
        settingsPath = dir.filePath(QStringLiteral("settings.ini"));
        settings = std::make_unique<QSettings>(settingsPath, QSettings::IniFormat);
        settings->setValue(QStringLiteral("serverURL"), serverBase());
    }

    QString serverBase() const { return server.url(QString()).toString(QUrl::RemoveFragment); }

    AppStoreActions actions() {
        AppStoreActions a;
        a.readUsage = [this](std::stop_token token) { return readUsage(token); };
        a.sendRequest = [this](HttpRequest request, std::stop_token token) {
            request.idleTimeout = idleTimeout;
            return transport(std::move(request), std::move(token));
        };
        a.saveSessionAsync = [this](SavedSession s) { return SessionKeychain::save(secrets, s); };
        a.clearSessionAsync = [this] { return SessionKeychain::remove(secrets); };
        a.openGitHub = [this](QUrl url, std::stop_token token) { return openGitHub(url, token); };
        a.now = [this] { return clock; };
        a.timeZone = [] { return QTimeZone(Qt::UTC); };
        return a;
    }

    AppStore& makeStore(QVariantMap bundleInfo = {}) {
        store = std::make_unique<AppStore>(false, actions(), &analytics, settings.get(),
                                           settings.get(), std::move(bundleInfo));
        return *store;
    }

    // A signed-in store, with its session in the secret store as a real sign-in leaves it.
    AppStore& signedInStore(QVariantMap bundleInfo = {}) {
        AppStore& s = makeStore(std::move(bundleInfo));
        session = SavedSession{QStringLiteral("tok-1"), alice(), serverBase()};
        secrets->setItem(SessionKeychain::service, SessionKeychain::key, session.toJson());
        s.setSession(session);
        return s;
    }

    bool keychainHasSession() const {
        return secrets->item(SessionKeychain::service, SessionKeychain::key).has_value();
    }

    ScriptedHttpServer server;
    RecordingTelemetry telemetry;
    Analytics analytics;
    QTemporaryDir dir;
    QString settingsPath;
    std::unique_ptr<QSettings> settings;
    QNetworkAccessManager network;
    SendRequest transport = networkTransport(&network);
    std::shared_ptr<MemorySecretStore> secrets = std::make_shared<MemorySecretStore>();
    std::chrono::milliseconds idleTimeout{20000};
    QDateTime clock = QDateTime(QDate(2026, 12, 5), QTime(12, 0), Qt::UTC);
    SavedSession session;

    Reading reading = Reading::snapshot;
    UsageSnapshot nextSnapshot = sampleSnapshot();
    QString readingFailure = QStringLiteral("CodexBar is not installed.");
    int readings = 0;

    std::function<QCoro::Task<QUrl>(QUrl, std::stop_token)> browser;
    QList<QUrl> openedInBrowser;

    std::unique_ptr<AppStore> store;

private:
    QCoro::Task<UsageSnapshot> readUsage(std::stop_token token) {
        ++readings;
        if (reading == Reading::failure)
            throw AppError(readingFailure);
        if (reading == Reading::waitForCancel) {
            QTimer poll;
            poll.start(5);
            while (!token.stop_requested())
                co_await poll;
            throw CancellationError();
        }
        co_return nextSnapshot;
    }

    QCoro::Task<QUrl> openGitHub(QUrl url, std::stop_token token) {
        openedInBrowser.append(url);
        if (!browser)
            throw AppError(QStringLiteral("no browser in this test"));
        auto run = browser;
        co_return co_await run(url, token);
    }
};

} // namespace varno::test
