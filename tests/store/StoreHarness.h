// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/Analytics.h"
#include "async/CancellationError.h"
#include "auth/MemorySecretStore.h"
#include "auth/SessionKeychain.h"
#include "model/Errors.h"
#include "model/Settings.h"
#include "store/AppStore.h"
#include "usage/CodexBarReader.h"

#include "support/AwaitTask.h"
#include "support/Printers.h"
#include "support/RecordingTelemetry.h"
#include "support/ScriptedHttpServer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace varno::test {

inline User alice() {
    return User{"u-alice", "Alice", "alice@x.io"};
}

// A dashboard with "me" first and the given friends after it.
inline Dashboard dashboard(const QStringList& friendIds = {},
                           std::optional<QString> referralCode = std::nullopt) {
    const auto row = [](const QString& id, bool isMe) {
        return LeaderboardEntry{id, "N", isMe, 1, 1, 2};
    };
    Dashboard board{alice(), {row("u-alice", true)}, {}, std::move(referralCode)};
    for (const QString& id : friendIds)
        board.leaderboard.append(row(id, false));
    return board;
}
inline QByteArray dashboardJson(const QStringList& friendIds = {},
                                std::optional<QString> referralCode = std::nullopt) {
    return dashboard(friendIds, std::move(referralCode)).toJson();
}

// "METHOD path" of each request, oldest first.
inline QStringList sent(const ScriptedHttpServer& server, bool withQuery = true) {
    QStringList out;
    for (const RecordedRequest& r : server.requests())
        out << QString::fromUtf8(r.method + ' ' + (withQuery ? r.path : r.pathWithoutQuery()));
    return out;
}

inline ScriptedResponse reply(int status, QByteArray body = {},
                              QByteArray type = "application/json") {
    return ScriptedResponse::reply(status, body, type);
}

const QString dashboardToday = QStringLiteral("GET /api/dashboard?date=2026-12-05");
const ScriptedResponse okAnswer = reply(200, R"({"ok":true})");

// A store wired to real parts: the scripted server over the network core, an INI
// settings file in a temporary folder, an in-memory secret store, and the usage
// reader with a stand-in tool.
class StoreHarness {
public:
    StoreHarness() { settings->setValue(settings::serverURLKey, serverBase()); }

    QString serverBase() const { return server.url(QString()).toString(); }
    // Fills in {base}, the scripted server's address, and {port}, its port.
    QString expand(QString text) const {
        return text.replace("{base}", serverBase())
            .replace("{port}", QString::number(server.port()));
    }

    AppStoreActions actions() {
        AppStoreActions a;
        // The real reader, with the stand-in CodexBar tool unless it should be missing.
        a.readUsage = [this](std::stop_token token) {
            ++readings;
            ReaderOptions options;
            options.environment = [](const QString&) { return std::optional<QString>(); };
            options.installLocations =
                toolMissing ? QStringList() : QStringList{VARNO_TOOL_FAKE_CODEXBAR};
            return CodexBarReader::read(token, options);
        };
        // Read at call time, so a test may swap the transport or the timeout.
        a.sendRequest = [this](HttpRequest request, std::stop_token token) {
            request.idleTimeout = idleTimeout;
            request.deadline = deadline;
            request.maxAnswerBytes = maxAnswerBytes;
            return transport(std::move(request), std::move(token));
        };
        a.saveSessionAsync = [this](SavedSession s) { return SessionKeychain::save(secrets, s); };
        a.clearSessionAsync = [this] { return SessionKeychain::remove(secrets); };
        a.openGitHub = [this](QUrl url, std::stop_token token) {
            openedInBrowser << url;
            return browser(url, token);
        };
        a.now = [this] { return clock; };
        a.timeZone = [] { return QTimeZone(Qt::UTC); };
        return a;
    }

    AppStore& makeStore(QVariantMap bundleInfo = {}) {
        store = std::make_unique<AppStore>(false, actions(), &analytics, settings.get(),
                                           settings.get(), std::move(bundleInfo));
        return *store;
    }

    // A signed-in store, with its session in the secret store as a sign-in leaves it.
    AppStore& signedInStore(QVariantMap bundleInfo = {}) {
        AppStore& s = makeStore(std::move(bundleInfo));
        secrets->setItem(SessionKeychain::service, SessionKeychain::key, session.toJson());
        s.setSession(session);
        return s;
    }

    bool keychainHasSession() const {
        return secrets->item(SessionKeychain::service, SessionKeychain::key).has_value();
    }

    ScriptedHttpServer server;
    RecordingTelemetry telemetry{[this] { return server.requestCount(); }};
    Analytics analytics{&telemetry};
    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings =
        std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat);
    SendRequest transport = networkTransport();
    std::shared_ptr<MemorySecretStore> secrets = std::make_shared<MemorySecretStore>();
    std::chrono::milliseconds idleTimeout{20000};
    std::chrono::milliseconds deadline{std::chrono::minutes(2)};
    qint64 maxAnswerBytes = maxServerAnswerBytes;
    QDateTime clock = QDateTime(QDate(2026, 12, 5), QTime(12, 0), Qt::UTC);
    SavedSession session{QStringLiteral("tok-1"), alice(), serverBase()};
    std::stop_source stop;

    bool toolMissing = false;
    int readings = 0;

    std::function<QCoro::Task<QString>(QUrl, std::stop_token)> browser;
    QList<QUrl> openedInBrowser;

    std::unique_ptr<AppStore> store;
};

} // namespace varno::test

using namespace std::chrono_literals;
using namespace varno;
using namespace varno::test;
