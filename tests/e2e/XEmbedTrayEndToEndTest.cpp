// SPDX-License-Identifier: MIT
// The real varno binary against the real development server, on an X server with an
// XEmbed tray (trayer, where Qt embeds the icon itself) and a real notification daemon
// (dunst), whose history tells what it showed. Both clicks reach Varno, and its one
// menu and its panel hang from the icon's bottom edge, not from the pointer or a screen
// corner. A new friend request and a friend passing the user appear once with their
// texts, and a click opens the panel or the friends sheet. (What a restart or the
// setting changes is the friend-news and menu tests' concern.)

#include "auth/QtKeychainSecretStore.h"
#include "auth/SessionKeychain.h"
#include "model/Formatting.h"
#include "model/Settings.h"
#include "store/FriendNews.h"

#include "devserver/DevServerApi.h"
#include "support/DesktopSession.h"
#include "support/DevServerProcess.h"
#include "support/Files.h"
#include "support/Printers.h"
#include "support/Programs.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QThread>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace varno {
namespace {

using test::DesktopSession;
using test::waitUntil;

const QString varnoProgram = varno::test::varnoProgramPath();

class Run {
public:
    DesktopSession desktop;
    test::DevServerProcess server{test::DevServerProcess::Seed::demo};
    test::DevServerApi api{server};

    QString base() const { return server.baseUrl(); }
    QString today() const { return QDate::currentDate().toString(Qt::ISODate); }

    // Today's total of a user's device, sent as a new reading (which replaces the last
    // one even when read at the same time).
    void upload(const QString& user, qint64 today) {
        api.upload(api.tokenFor(user), user + "-e2e", {{"claude", this->today(), today}},
                   QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    }
    QJsonObject row(const QString& id) { return api.entry(api.tokenFor("demo"), today(), id); }
    qint64 total(const QString& id) { return row(id).value("total").toInteger(); }

    // A new user with an incoming request to the demo user; returns the request's id.
    QString requestFrom(const QString& id, const QString& name) {
        api.createUser(id, name);
        return api.befriend(id, "demo", false);
    }
    void newFriend(const QString& id) {
        api.createUser(id, id);
        api.befriend(id, "demo", true);
    }

    // What the app has recorded for the demo account.
    std::optional<SeenFriendNews> record() {
        QSettings settings(desktop.path("config/Varno/Varno.conf"), QSettings::IniFormat);
        return SeenFriendNews::fromVariant(
            settings::readFriendNewsByAccount(settings).value(base() + "\ndemo"));
    }

    QProcessEnvironment appEnvironment() {
        QProcessEnvironment env = desktop.environment();
        env.insert("XDG_CONFIG_HOME", desktop.path("config"));
        env.insert("XDG_DATA_HOME", desktop.path("data"));
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("CODEXBAR_CLI", QStringLiteral(VARNO_TOOL_FAKE_CODEXBAR));
        env.insert("VARNO_NO_URL_HANDLER", "1");
        env.insert("VARNO_DEVELOPMENT", "1");
        env.insert("VARNO_STARTUP_REPORT", desktop.path("startup"));
        // A dark application theme on a light tray that publishes no colours.
        env.insert("QT_QPA_PLATFORMTHEME", "gtk3");
        env.insert("GTK_THEME", "Adwaita:dark");
        return env;
    }
    // Started and answering: a `varno --toggle` before that would start a second app.
    bool startApp() {
        QFile::remove(desktop.path("startup"));
        app_ = desktop.start(varnoProgram, {}, appEnvironment());
        return waitUntil([&] { return QFile::exists(desktop.path("startup")); }, 30s);
    }
    bool quitApp() {
        varno({"--dev", "quit"});
        return app_->waitForFinished(15000) && app_->exitStatus() == QProcess::NormalExit &&
               app_->exitCode() == 0;
    }
    int varno(const QStringList& arguments) {
        return test::runProgram(varnoProgram, arguments, appEnvironment()).exitCode;
    }
    bool shown(const QString& title) {
        return desktop.run("xdotool", {"search", "--onlyvisible", "--name", '^' + title + '$'})
                   .first == 0;
    }
    // The panel, with or without a sheet in front (its window then names the sheet).
    bool panelShown() {
        return desktop.run("xdotool", {"search", "--onlyvisible", "--name", "^Varno leaderboard"})
                   .first == 0;
    }

    // Opens the panel (each opening loads the dashboard) until the app's record says
    // the load it needs has been seen. An opening while a sync runs loads nothing,
    // hence the retries.
    bool loadUntil(const std::function<bool(const SeenFriendNews&)>& seen) {
        for (int attempt = 0; attempt < 8; ++attempt) {
            if (panelShown())
                varno({"--toggle"});
            varno({"--toggle"});
            if (waitUntil(
                    [&] {
                        const auto r = record();
                        return r && seen(*r);
                    },
                    4s))
                return true;
        }
        return false;
    }

    // Everything dunst showed: displayed ones are closed first, so that all are in
    // its history. "summary | body", oldest first.
    QStringList notifications() {
        desktop.run("dunstctl", {"close-all"});
        waitUntil([&] {
            return desktop.run("dunstctl", {"count", "displayed"}).second.trimmed() == "0";
        });
        const QJsonObject history =
            QJsonDocument::fromJson(desktop.run("dunstctl", {"history"}).second.toUtf8()).object();
        QStringList out;
        for (const auto& entry : history.value("data").toArray().at(0).toArray()) {
            const QJsonObject n = entry.toObject();
            const auto text = [&](const char* key) {
                return n.value(key).toObject().value("data").toString();
            };
            out.prepend(text("summary") + " | " + text("body"));
        }
        return out;
    }

private:
    QProcess* app_ = nullptr;
};

void onTrayerWithANotificationDaemon() {
    Run run;
    DesktopSession& desktop = run.desktop;
    ASSERT_TRUE(desktop.startX("1024x600")) << "Xvfb did not start";
    // Nothing expires: the test closes them after looking.
    ASSERT_TRUE(test::writeFile(desktop.path("dunstrc"),
                                "[urgency_low]\ntimeout = 0\n[urgency_normal]\ntimeout = 0\n"
                                "[urgency_critical]\ntimeout = 0\n"));
    desktop.start("dunst", {"-config", desktop.path("dunstrc")});
    desktop.start("trayer",
                  {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "28",
                   "--SetDockType", "true", "--transparent", "false", "--tint", "0xe8e8e8"});
    ASSERT_TRUE(waitUntil([&] { return desktop.run("dunstctl", {"is-paused"}).first == 0; }, 10s))
        << desktop.log("dunst").toStdString();
    ASSERT_TRUE(waitUntil([&] {
        return desktop.run("xdotool", {"search", "--classname", "trayer"}).first == 0;
    }));

    // Signed in as the demo user, with the session where Varno keeps it.
    const QJsonObject demo = run.api.post("/dev/sessions", {{"userId", "demo"}}).json;
    ASSERT_FALSE(demo.value("token").toString().isEmpty());
    const QJsonObject user = demo.value("user").toObject();
    auto secrets = std::make_shared<QtKeychainSecretStore>(20s);
    test::awaitTask(
        SessionKeychain::save(
            secrets, SavedSession{demo.value("token").toString(),
                                  User{user.value("id").toString(), user.value("name").toString(),
                                       user.value("email").toString()},
                                  run.base()}),
        30s);
    {
        QSettings settings(desktop.path("config/Varno/Varno.conf"), QSettings::IniFormat);
        settings.setValue("serverURL", run.base());
    }

    // The first load only records.
    const QString started = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    ASSERT_TRUE(run.startApp());
    EXPECT_TRUE(test::readText(desktop.path("startup")).contains("tray=shown"));

    // The icon: the dark pixels on trayer's light bar.
    QImage shot;
    QRect icon;
    ASSERT_TRUE(waitUntil(
        [&] {
            shot = desktop.screenshot();
            icon = QRect();
            for (int y = 0; y < 28 && !shot.isNull(); ++y)
                for (int x = 0; x < shot.width(); ++x)
                    if (shot.pixelColor(x, y).lightnessF() < 0.3 &&
                        shot.pixelColor(x, 27).lightnessF() > 0.7)
                        icon |= QRect(x, y, 1, 1);
            return !icon.isEmpty();
        },
        20s))
        << "no icon in the tray";

    // Before any click, `varno --toggle` (the pointer far away) hangs the panel from the
    // icon too: trayer tells Qt where the icon is.
    desktop.run("xdotool", {"mousemove", "100", "500"});
    EXPECT_EQ(run.varno({"--toggle"}), 0);
    std::optional<QRect> panel;
    ASSERT_TRUE(waitUntil(
        [&] {
            panel = desktop.visibleWindow("^Varno leaderboard");
            return panel.has_value();
        },
        10s))
        << "no panel opened";
    EXPECT_GE(panel->top(), icon.bottom());
    EXPECT_LE(panel->top(), 28 + 8);
    EXPECT_GE(panel->right(), icon.left()) << "the panel is not under the icon";
    EXPECT_EQ(run.varno({"--toggle"}), 0);
    ASSERT_TRUE(waitUntil([&] { return !run.panelShown(); }, 10s));

    // A right click on the icon's top half: one menu, hanging from the icon's bottom.
    desktop.click(QPoint(icon.center().x(), icon.top() + 2), 3);
    const auto menus = [&] {
        QList<QRect> found;
        for (const QRect& window : desktop.visibleWindows({"--classname", "varno"}))
            if (window.width() > 100 && window.height() > 40)
                found.append(window);
        return found;
    };
    ASSERT_TRUE(waitUntil([&] { return !menus().isEmpty(); }, 10s)) << "no menu opened";
    QThread::msleep(300); // a second menu would show by now
    ASSERT_EQ(menus().size(), 1) << "one menu, not Qt's own as well";
    // Trayer's icon window reaches to the bar's bottom; the menu starts right below it,
    // pulled inside the screen at the right.
    EXPECT_GE(menus()[0].top(), icon.bottom());
    EXPECT_LE(menus()[0].top(), 28);
    EXPECT_EQ(menus()[0].right(), shot.width() - 1);
    desktop.run("xdotool", {"key", "Escape"});
    ASSERT_TRUE(waitUntil([&] { return menus().isEmpty(); }, 10s));

    ASSERT_TRUE(run.loadUntil([](const SeenFriendNews&) { return true; }))
        << desktop.log("varno").toStdString();
    // The app's own upload moves the user's total: the passes below are measured after it.
    ASSERT_TRUE(
        waitUntil([&] { return run.row("demo").value("syncedAt").toString() >= started; }, 20s));
    ASSERT_TRUE(run.record()->below.contains("katherine")) << "the demo circle changed";

    // Linus asks; Katherine, below the user so far, uploads enough to pass them.
    const QString linus = run.requestFrom("linus", "Linus Torvalds");
    run.upload("katherine", run.total("demo") - run.total("katherine") + 2'000'000);
    const QString passed =
        QString::fromUtf8("\u2068Katherine Johnson\u2069 passed you | %1 tokens vs your %2")
            .arg(compactTokens(run.total("katherine")), compactTokens(run.total("demo")));
    ASSERT_TRUE(run.loadUntil([&](const SeenFriendNews& seen) {
        return seen.requests.contains(linus) && !seen.below.contains("katherine");
    }));
    ASSERT_TRUE(waitUntil(
        [&] {
            return desktop.run("dunstctl", {"count", "displayed"}).second.trimmed() == "2";
        },
        10s))
        << desktop.run("dunstctl", {"history"}).second.toStdString();

    // A click on a notification opens the panel; on the friend request, the friends sheet.
    run.varno({"--toggle"});
    ASSERT_TRUE(waitUntil([&] { return !run.panelShown(); }, 5s));
    desktop.run("dunstctl", {"action", "0"});
    desktop.run("dunstctl", {"action", "0"});
    EXPECT_TRUE(waitUntil([&] { return run.shown("Varno leaderboard — Friends"); }, 10s))
        << "a click opens the panel and the friends sheet";

    // The same dashboard again (with one more friend, below the user): nothing new.
    run.newFriend("ghost");
    ASSERT_TRUE(
        run.loadUntil([](const SeenFriendNews& seen) { return seen.below.contains("ghost"); }));
    // Names arrive isolated, so that they cannot reorder the words around them.
    const QStringList once{QString::fromUtf8("New friend request | \u2068Linus Torvalds\u2069"),
                           passed};
    EXPECT_EQ(run.notifications(), once);

    // --dev usage and --dev friends each bring their sheet up; quitting with the friends
    // sheet up (and the tray icon's window) ends the process.
    EXPECT_EQ(run.varno({"--dev", "usage"}), 0);
    ASSERT_TRUE(waitUntil([&] { return run.shown("Varno leaderboard — Your Usage"); }, 10s));
    EXPECT_EQ(run.varno({"--dev", "friends"}), 0);
    EXPECT_TRUE(waitUntil([&] { return run.shown("Varno leaderboard — Friends"); }, 10s));
    EXPECT_TRUE(run.quitApp());
}

TEST(EndToEnd, OnAnXEmbedTrayClicksMenuPanelAndNotificationsWork) {
    test::runOnDesktop(
        onTrayerWithANotificationDaemon,
        {"gnome-keyring-daemon", "Xvfb", "dunst", "dunstctl", "trayer", "xdotool", "import"}, true,
        170s);
}

} // namespace
} // namespace varno
