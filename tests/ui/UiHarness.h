#pragma once

#include "analytics/Analytics.h"
#include "async/CancellationError.h"
#include "store/AppStore.h"
#include "ui/AvatarLoader.h"
#include "ui/ElidedLabel.h"

#include "QtPrinters.h"
#include "support/AwaitTask.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoroTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <optional>

namespace varno::test {

// Records the events the wrapper sends.
class RecordingTelemetry : public TelemetryClient {
public:
    void setup(const TelemetryConfig&) override {}
    QString getDistinctId() override { return QStringLiteral("anon"); }
    QString getAnonymousId() override { return QStringLiteral("anon"); }
    void identify(const QString&, const QVariantMap&) override {}
    void reset() override {}
    void capture(const QString& event, const QVariantMap&) override { captured.append(event); }
    void flush() override {}
    QStringList captured;
};

inline LeaderboardEntry person(const QString& id, const QString& name, qint64 total,
                               bool synced = true, std::optional<QString> avatar = std::nullopt,
                               bool isMe = false) {
    return LeaderboardEntry{id,
                            name,
                            isMe,
                            total / 2,
                            total - total / 2,
                            total,
                            synced ? std::optional<QString>(QStringLiteral("2026-12-05T10:00:00Z"))
                                   : std::nullopt,
                            avatar};
}

inline User me() {
    return User{QStringLiteral("u-me"), QStringLiteral("Me"), QStringLiteral("me@example.com")};
}

// A leaderboard of the user followed by friends f1..fn, totals falling with the rank.
inline QList<LeaderboardEntry> leaderboardOf(int people) {
    QList<LeaderboardEntry> rows;
    for (int i = 0; i < people; ++i) {
        if (i == 0)
            rows.append(person(me().id, me().name, 5'000'000, true, std::nullopt, true));
        else
            rows.append(person(QStringLiteral("f%1").arg(i), QStringLiteral("Friend %1").arg(i),
                               5'000'000 - i * 1000));
    }
    return rows;
}

inline Dashboard dashboardWith(QList<LeaderboardEntry> rows, QList<FriendRequest> requests = {},
                               std::optional<QString> referralCode = std::nullopt) {
    return Dashboard{me(), std::move(rows), std::move(requests), std::move(referralCode)};
}

inline QByteArray toJson(const Dashboard& dashboard) {
    auto user = [](const User& u) {
        return QJsonObject{{"id", u.id}, {"name", u.name}, {"email", u.email}};
    };
    QJsonArray rows;
    for (const LeaderboardEntry& e : dashboard.leaderboard) {
        QJsonObject row{{"id", e.id},       {"name", e.name},     {"isMe", e.isMe},
                        {"codex", e.codex}, {"claude", e.claude}, {"total", e.total}};
        if (e.syncedAt)
            row.insert("syncedAt", *e.syncedAt);
        if (e.avatarURL)
            row.insert("avatarURL", *e.avatarURL);
        rows.append(row);
    }
    QJsonArray requests;
    for (const FriendRequest& r : dashboard.requests)
        requests.append(QJsonObject{
            {"id", r.id}, {"name", r.name}, {"incoming", r.incoming}, {"accepted", r.accepted}});
    QJsonObject root{{"user", user(dashboard.user)}, {"leaderboard", rows}, {"requests", requests}};
    if (dashboard.referralCode)
        root.insert("referralCode", *dashboard.referralCode);
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

// A store whose outside effects are in-process fakes: a server that answers from a
// script (and can hold requests until they are cancelled or released), a usage
// reader, a browser sign-in that waits, settings in a temporary folder.
class UiHarness {
public:
    UiHarness() : analytics(&telemetry) {
        settings = std::make_unique<QSettings>(dir.filePath(QStringLiteral("settings.ini")),
                                               QSettings::IniFormat);
        settings->setValue(QStringLiteral("serverURL"), QStringLiteral("https://varno.test"));
        AppStoreActions actions;
        actions.readUsage = [this](std::stop_token) -> QCoro::Task<UsageSnapshot> {
            ++readings;
            co_return UsageSnapshot{{}, QDateTime::currentDateTimeUtc()};
        };
        actions.sendRequest = [this](HttpRequest request, std::stop_token token) {
            return send(std::move(request), std::move(token));
        };
        actions.saveSession = [](const SavedSession&) {};
        actions.clearSession = [] {};
        actions.openGitHub = [this](QUrl url, std::stop_token token) {
            return waitForBrowser(std::move(url), std::move(token));
        };
        store = std::make_unique<AppStore>(false, std::move(actions), &analytics, settings.get(),
                                           settings.get(), QVariantMap{});
    }

    void signIn(const User& user = me()) {
        store->setSession(SavedSession{QStringLiteral("token"), user, store->serverURL()});
    }

    // The paths (after /api/) the server was asked for, with their methods.
    QStringList requestLines() const {
        QStringList lines;
        for (const HttpRequest& r : requests)
            lines.append(QString::fromLatin1(r.method) + QLatin1Char(' ') +
                         r.url.path().mid(QStringLiteral("/api/").size()));
        return lines;
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
    RecordingTelemetry telemetry;
    Analytics analytics;
    std::unique_ptr<AppStore> store;

    // What the fake server answers: the dashboard for GET dashboard, {"ok":true}
    // otherwise. holdRequests keeps every request waiting until it is cancelled or
    // released.
    Dashboard serverDashboard = dashboardWith(leaderboardOf(2));
    bool holdRequests = false;
    QList<HttpRequest> requests;
    int cancelledRequests = 0;
    int readings = 0;
    bool browserWaiting = false;

private:
    QCoro::Task<HttpResponse> send(HttpRequest request, std::stop_token token) {
        requests.append(request);
        if (holdRequests) {
            QTimer poll;
            poll.start(5);
            while (holdRequests && !token.stop_requested())
                co_await poll;
            if (token.stop_requested()) {
                ++cancelledRequests;
                throw CancellationError();
            }
        }
        const QString path = request.url.path();
        HttpResponse response;
        response.status = 200;
        if (path.endsWith(QLatin1String("/dashboard")))
            response.body = toJson(serverDashboard);
        else if (path.endsWith(QLatin1String("/auth/github")))
            response.body = R"({"url":"https://varno.test/auth/page"})";
        else
            response.body = R"({"ok":true})";
        co_return response;
    }

    QCoro::Task<QUrl> waitForBrowser(QUrl, std::stop_token token) {
        browserWaiting = true;
        QTimer poll;
        poll.start(5);
        while (!token.stop_requested())
            co_await poll;
        browserWaiting = false;
        throw CancellationError();
    }
};

// --- Finding what the user sees ---

template <typename W = QWidget> QList<W*> visibleChildren(const QWidget* root) {
    QList<W*> found;
    for (W* w : root->findChildren<W*>())
        if (w->isVisible())
            found.append(w);
    return found;
}

// Every visible text under root, in creation order: labels, buttons, elided names.
inline QStringList visibleTexts(const QWidget* root) {
    QStringList texts;
    for (QWidget* w : visibleChildren(root)) {
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty())
            texts.append(label->text());
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            texts.append(button->text());
        else if (auto* name = qobject_cast<ElidedLabel*>(w))
            texts.append(name->text());
    }
    return texts;
}

template <typename W = QAbstractButton>
W* visibleWithText(const QWidget* root, const QString& text) {
    for (W* w : visibleChildren<W>(root))
        if (w->text() == text)
            return w;
    return nullptr;
}

inline QWidget* visibleWithAccessibleName(const QWidget* root, const QString& name) {
    for (QWidget* w : visibleChildren(root))
        if (w->accessibleName() == name)
            return w;
    return nullptr;
}

// The visible top-level window of type W, if one is up.
template <typename W> W* visibleWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* typed = qobject_cast<W*>(w); typed && typed->isVisible())
            return typed;
    return nullptr;
}

} // namespace varno::test
