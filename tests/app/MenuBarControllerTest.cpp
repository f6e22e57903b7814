// SPDX-License-Identifier: MIT
#include "ControllerHarness.h"

#include "app/XdgAutostart.h"
#include "ui/Alert.h"
#include "ui/SignInLinkWindow.h"

#include "support/Files.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace varno {
namespace {

using test::ControllerHarness;
using test::waitUntil;

const QString usageTip = QStringLiteral("Your tokens of the last 30 days, day by day");

// The menu as a user sees it when it opens, or as a StatusNotifierItem host shows its
// exported copy without asking first: title, enabled, real tool tip, check mark if it
// has one ("-" is a separator).
QStringList openMenu(MenuBarController& controller, bool open = true) {
    if (open)
        emit controller.contextMenu()->aboutToShow();
    QStringList lines;
    for (QAction* a : controller.contextMenu()->actions()) {
        const QString tip = a->toolTip() == a->text() ? QString() : a->toolTip();
        QString line =
            a->isSeparator()
                ? QStringLiteral("-")
                : QStringLiteral("%1|%2|%3").arg(a->text(), a->isEnabled() ? "on" : "off", tip);
        if (a->isCheckable())
            line += a->isChecked() ? QStringLiteral("|checked") : QStringLiteral("|unchecked");
        lines.append(line);
    }
    return lines;
}

// The menu signed out (or restoring) and signed in; first what a left click does, for
// trays that open the menu on one.
const QString copyItem = "Copy referral link|%1|Copy your invite link to the clipboard";
// clang-format off
const QStringList idleMenu = {"Sign in with GitHub|on|", "Your Usage|off|" + usageTip, "-",
                              copyItem.arg("off"), "-", "Sign out|off|", "Quit Varno|on|"};
const QStringList readyMenu = {"Open Varno|on|", "Your Usage|on|" + usageTip, "-",
                               copyItem.arg("on"), "-", "Sign out|on|", "Quit Varno|on|"};
// clang-format on

// The exported copy is kept current too: it is read here without opening the menu.
TEST(MenuBarController, LaunchRestoresTheSessionThenAnnouncesAndSyncs) {
    ControllerHarness h;
    // The saved session's own server wins for this run, without touching the settings.
    h.settings.setValue(QStringLiteral("serverURL"), QStringLiteral("http://127.0.0.1:9"));
    h.restored = false;
    h.keychainSession = h.saved();
    h.withTray = true;
    MenuBarController& controller = h.launch();

    EXPECT_TRUE(h.store->busy());
    EXPECT_EQ(openMenu(controller, false), idleMenu) << "filled at launch, off while restoring";
    EXPECT_EQ(controller.statusItem()->toolTip(), "Varno");
    EXPECT_TRUE(h.telemetry.captures().isEmpty());

    h.restored = true;
    ASSERT_TRUE(waitUntil([&] { return !h.sleeps.isEmpty() && !h.store->busy(); }));
    EXPECT_EQ(h.store->serverURL(), h.base());
    EXPECT_EQ(h.settings.value(QStringLiteral("serverURL")).toString(), "http://127.0.0.1:9");
    EXPECT_EQ(h.store->session().value().token, "tok-1");
    // Identified before the launch event; the first sync runs before the first sleep.
    EXPECT_EQ(h.telemetry.calls.mid(0, 3), (QStringList{"identify u-alice", "capture app_launched",
                                                        "capture usage_sync_completed"}));
    EXPECT_EQ(h.requestsTo("POST", "/api/usage"), 1);
    EXPECT_EQ(openMenu(controller, false), readyMenu);
    // Today and the 30 days of this computer, from the reading of the sync.
    EXPECT_EQ(controller.statusItem()->toolTip(), "Varno — today 1.23M · 30 days 1.25M");

    h.store->setBusy(true); // e.g. a friend action runs: no store items, and no sync
    EXPECT_EQ(openMenu(controller, false), readyMenu.mid(0, 2) + idleMenu.mid(2));
    ASSERT_TRUE(h.nextPass());
    ASSERT_TRUE(h.nextPass());
    EXPECT_EQ(h.requestsTo("POST", "/api/usage"), 1) << "busy passes are skipped, not queued";
    h.store->setBusy(false);
    ASSERT_TRUE(h.nextPass());
    EXPECT_EQ(h.requestsTo("POST", "/api/usage"), 2);
    EXPECT_EQ(h.sleeps, (QList<std::chrono::milliseconds>(4, 60s)));
    h.store->setSession(std::nullopt);
    EXPECT_EQ(controller.statusItem()->toolTip(), "Varno") << "nothing of the user's signed out";
    EXPECT_EQ(openMenu(controller, false), idleMenu);

    // Quit Varno: the loop's sleep wakes at once, and analytics are flushed.
    openMenu(controller);
    controller.contextMenu()->actions().last()->trigger();
    EXPECT_EQ(h.quitRequests, 1);
    const auto started = std::chrono::steady_clock::now();
    controller.applicationWillTerminate();
    ASSERT_TRUE(waitUntil([&] { return controller.automaticSyncTask()->isFinished(); }, 2s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(h.telemetry.flushes, 1);
}

TEST(MenuBarController, QuitDuringLaunchCancelsTheRestoration) {
    ControllerHarness h;
    h.restored = false;
    h.keychainSession = h.saved();
    MenuBarController& controller = h.launch();
    controller.applicationWillTerminate();
    ASSERT_TRUE(waitUntil([&] { return controller.sessionRestorationTask()->isFinished(); }, 2s));
    EXPECT_EQ(controller.automaticSyncTask(), nullptr) << "the loop never starts";
    EXPECT_TRUE(h.telemetry.captures().isEmpty()) << "no app_launched after quitting";
    EXPECT_EQ(h.telemetry.flushes, 1);
}

TEST(MenuBarController, ClickDuringLaunchWaitsForTheRestoredSession) {
    ControllerHarness h;
    h.restored = false;
    h.keychainSession = h.saved();
    MenuBarController& controller = h.launch();
    controller.clicked(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(controller.isSigningIn());
    h.restored = true;
    ASSERT_TRUE(waitUntil([&] { return !controller.isSigningIn(); }));
    EXPECT_EQ(h.requestsTo("GET", "/api/auth/github"), 0) << "no sign-in: the session came back";
    EXPECT_TRUE(h.opened.isEmpty());
    EXPECT_TRUE(controller.panel()->isVisible());
}

TEST(MenuBarController, ClicksSignInToggleThePanelOrOpenTheMenu) {
    ControllerHarness h;
    h.realView = true;
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return !h.store->busy(); }));
    GlassPanel* panel = controller.panel();
    // Where a tray opens the menu on a left click, its first item does what the click
    // would.
    const auto firstItem = [&] {
        openMenu(controller);
        return controller.contextMenu()->actions().first();
    };

    // Signed out: a left click starts the browser sign-in.
    ASSERT_EQ(firstItem()->text(), "Sign in with GitHub");
    firstItem()->trigger();
    EXPECT_TRUE(controller.isSigningIn());
    ASSERT_TRUE(waitUntil([&] { return h.router.isWaiting(); }));
    EXPECT_EQ(h.opened, QList<QUrl>{QUrl(h.base() + "/dev/signin?page=1")});

    // Clicks while it waits start nothing new; they show and hide the wait.
    ASSERT_EQ(firstItem()->text(), "Open Varno");
    firstItem()->trigger();
    EXPECT_TRUE(panel->isVisible());
    controller.clicked(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(h.requestsTo("GET", "/api/auth/github"), 1);
    EXPECT_EQ(h.opened.size(), 1);

    // The browser comes back: signed in, synced, and the panel opens.
    ASSERT_TRUE(h.router.deliver(h.callback()));
    ASSERT_TRUE(waitUntil([&] { return !controller.isSigningIn(); }));
    EXPECT_EQ(controller.signInLinkWindow(), nullptr) << "the waiting sign-in took the link";
    EXPECT_EQ(h.store->session().value().token, "tok-2");
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(h.requestsTo("POST", "/api/usage"), 1);

    // Signed in: a click closes the open panel, the next opens it.
    controller.clicked(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(panel->isVisible());
    controller.clicked(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(panel->isVisible());

    // A right click, or a left one with Control, opens the menu instead.
    for (const auto& [reason, modifiers] :
         {std::pair{QSystemTrayIcon::Context, Qt::KeyboardModifiers()},
          std::pair{QSystemTrayIcon::Trigger, Qt::KeyboardModifiers(Qt::ControlModifier)}}) {
        controller.showPanel();
        controller.clicked(reason, modifiers);
        EXPECT_TRUE(controller.contextMenu()->isVisible());
        EXPECT_FALSE(panel->isVisible());
        controller.contextMenu()->hide();
    }

    // "Your Usage": the panel, with the usage sheet on it.
    openMenu(controller);
    controller.contextMenu()->actions().at(1)->trigger();
    EXPECT_TRUE(panel->isVisible());
    auto* view = qobject_cast<VarnoView*>(panel->content());
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(waitUntil([&] { return view->usageSheet() && view->usageSheet()->isVisible(); }));
}

TEST(MenuBarController, ASignInLinkFromElsewhereIsShownAndCopiedButNeverUsed) {
    ControllerHarness h;
    h.realClipboard = true;
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return !h.store->busy(); }));

    const QString link = h.callback(QStringLiteral("started-on-a-server"));
    EXPECT_FALSE(h.router.deliver(link)) << "no sign-in here waits for it";
    SignInLinkWindow* window = controller.signInLinkWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->shownLink(), link);
    window->copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);

    // A newer link takes the same window; a long one shows cut short but copies whole.
    const QString longLink = link + "&pad=" + QString(5000, u'x');
    h.router.deliver(longLink);
    EXPECT_EQ(controller.signInLinkWindow(), window);
    EXPECT_EQ(window->shownLink().size(), SignInLinkWindow::shownLength + 1);
    window->copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), longLink);
    window->closeButton()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(controller.signInLinkWindow(), nullptr) << "closing it lets it go";

    EXPECT_EQ(h.requestsTo("POST", "/api/auth/exchange"), 0);
    EXPECT_FALSE(h.store->session());
}

// The visible alerts of the app.
QList<QMessageBox*> alertsUp() {
    QList<QMessageBox*> up;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            up.append(box);
    return up;
}

TEST(MenuBarController, FailuresShowOneModalAlertAtATimeAndCancelShowsNone) {
    ControllerHarness h;
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return !h.store->busy(); }));
    int shown = 0;
    QObject::connect(&controller, &MenuBarController::alertShown, [&] { ++shown; });

    // The panel's Cancel: no alert, no message.
    h.panelSignIn();
    ASSERT_TRUE(waitUntil([&] { return h.router.isWaiting(); }));
    h.panelCancel();
    ASSERT_TRUE(waitUntil([&] { return !controller.isSigningIn() && !h.store->busy(); }));
    EXPECT_EQ(shown, 0);
    EXPECT_FALSE(h.store->error());

    // A forged callback: the store's message moves into a modal alert, drawn like the
    // panel's own.
    h.panelSignIn();
    ASSERT_TRUE(waitUntil([&] { return h.router.isWaiting(); }));
    h.router.deliver(h.callback(QStringLiteral("forged")));
    ASSERT_TRUE(waitUntil([&] { return !controller.isSigningIn(); }));
    ASSERT_EQ(alertsUp().size(), 1);
    QMessageBox* alert = alertsUp().first();
    EXPECT_EQ(alert->text(), "Could not sign in with GitHub");
    EXPECT_EQ(alert->informativeText(), "GitHub sign-in could not be verified. Please try again.");
    EXPECT_EQ(alert->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(QApplication::activeModalWidget(), alert);
    EXPECT_NE(qobject_cast<Alert*>(alert), nullptr);
    EXPECT_FALSE(h.store->error()) << "taken out of the store";

    // Signed in without a referral code, even after a reload: the alert says why. Two
    // such failures while it is up still leave one alert.
    h.withReferralCode = false;
    h.store->setSession(h.saved());
    for (int attempt = 0; attempt < 2; ++attempt) {
        controller.referFriend();
        ASSERT_TRUE(waitUntil([&] { return shown == 2 + attempt; }));
    }
    ASSERT_EQ(alertsUp(), QList<QMessageBox*>{alert});
    EXPECT_EQ(alert->text(), "Could not copy your invite link");
    EXPECT_EQ(alert->informativeText(), "Invite links are not available on this server yet.");

    // Once it is dismissed, the next failure brings up a new one.
    alert->close();
    ASSERT_TRUE(waitUntil([&] { return alertsUp().isEmpty(); }));
    controller.referFriend();
    ASSERT_TRUE(waitUntil([&] { return alertsUp().size() == 1; }));
    alertsUp().first()->close();
}

TEST(MenuBarController, TheMenuCopiesTheFullyEncodedLink) {
    ControllerHarness h;
    h.realClipboard = true;
    h.referralCode = "x y\u00e9&r=2#"; // a space, a non-ASCII letter, query delimiters
    h.keychainSession = h.saved();
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return h.store->referralURL().has_value() && !h.store->busy(); }));
    QClipboard* clipboard = QGuiApplication::clipboard();

    clipboard->clear();
    controller.referFriend();
    ASSERT_TRUE(waitUntil([&] { return !clipboard->text().isEmpty(); }));
    EXPECT_EQ(clipboard->text(), "https://varno.app/?r=x%20y%C3%A9%26r%3D2%23");
    EXPECT_EQ(h.telemetry.captures().count("capture referral_link_copied"), 1);
}

TEST(MenuBarController, QuitFromTheTrayMenuEndsTheAppWithThePanelAndAnAlertUp) {
    ControllerHarness h;
    h.realQuit = true;
    h.withReferralCode = false;
    h.keychainSession = h.saved();
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return !h.store->busy() && h.store->dashboard(); }));
    controller.referFriend();
    ASSERT_TRUE(waitUntil([&] { return alertsUp().size() == 1; }));
    controller.showPanel();
    ASSERT_TRUE(controller.panel()->isVisible());

    QTimer::singleShot(0, &controller, [&] {
        openMenu(controller);
        controller.contextMenu()->actions().last()->trigger(); // "Quit Varno"
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(3000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(alertsUp().isEmpty());
    EXPECT_FALSE(controller.panel()->isVisible());
}

TEST(MenuBarController, StartAtLoginShowsAndSetsTheAutostartEntry) {
    ControllerHarness h;
    QTemporaryDir config;
    const QString folder = config.filePath(QStringLiteral("autostart"));
    auto autostart = std::make_shared<XdgAutostart>(folder, QStringLiteral("/usr/bin/varno"),
                                                    "[Desktop Entry]\nName=Varno\nExec=varno %u\n");
    h.loginItem = autostart;
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return !h.store->busy(); }));
    QList<QMessageBox*> alerts;
    QObject::connect(&controller, &MenuBarController::alertShown,
                     [&](QMessageBox* box) { alerts.append(box); });
    const auto menuWith = [](const char* startAtLogin) {
        return idleMenu.mid(0, 6) +
               QStringList{"-", QString("Start at Login|on||") + startAtLogin, "Quit Varno|on|"};
    };
    const auto item = [&] { return controller.contextMenu()->actions().at(7); };

    const auto entryExists = [&] { return QFileInfo::exists(autostart->entryPath()); };
    EXPECT_EQ(openMenu(controller), menuWith("unchecked")) << "off until the user turns it on";
    EXPECT_TRUE(item()->icon().isNull()) << "Qt draws the check mark in the symbols' column";
    item()->trigger();
    ASSERT_TRUE(waitUntil([&] { return controller.loginItemTask()->isFinished(); }));
    EXPECT_TRUE(entryExists());
    EXPECT_TRUE(item()->isChecked()) << "the exported copy shows it before any opening";
    EXPECT_EQ(openMenu(controller), menuWith("checked"));

    // Removed by hand while Varno runs: the next opening shows it off.
    QFile::remove(autostart->entryPath());
    EXPECT_EQ(openMenu(controller), menuWith("unchecked"));
    // On and at once off again: the changes land in that order.
    controller.setStartAtLogin(true);
    controller.setStartAtLogin(false);
    ASSERT_TRUE(waitUntil([&] { return controller.loginItemTask()->isFinished(); }));
    EXPECT_FALSE(entryExists());
    EXPECT_EQ(openMenu(controller), menuWith("unchecked"));
    EXPECT_TRUE(alerts.isEmpty());

    // It cannot be written: an alert says why, and the item stays off.
    QDir(folder).removeRecursively();
    ASSERT_TRUE(test::writeFile(folder, "")); // a file where the folder should be
    item()->trigger();
    ASSERT_TRUE(waitUntil([&] { return alerts.size() == 1; }));
    EXPECT_EQ(alerts[0]->text(), "Could not turn on Start at Login");
    EXPECT_EQ(alerts[0]->informativeText(), "Could not create the folder " + folder + ".");
    alerts[0]->close();
    EXPECT_EQ(openMenu(controller), menuWith("unchecked"));
}

// The menu's symbols are one set, the app's own in the menu's text colour, whether the
// desktop's icon theme has some of them (here only "application-exit") or none.
TEST(MenuBarController, MenuSymbolsAreOneSetWhateverTheIconTheme) {
    const QString theme = QIcon::themeName();
    const QStringList searchPaths = QIcon::themeSearchPaths();
    QTemporaryDir themes;
    const QString partial = themes.filePath("partial");
    ASSERT_TRUE(test::writeFile(partial + "/index.theme",
                                "[Icon Theme]\nName=partial\nDirectories=16x16/actions\n\n"
                                "[16x16/actions]\nSize=16\nType=Fixed\n"));
    QDir().mkpath(partial + "/16x16/actions");
    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(partial + "/16x16/actions/application-exit.png"));
    QIcon::setThemeSearchPaths({themes.path()});
    for (const char* name : {"partial", "varno-test-no-such-theme"}) {
        QIcon::setThemeName(QString::fromLatin1(name));
        ControllerHarness h;
        MenuBarController& controller = h.launch();
        openMenu(controller);
        const QColor text = controller.contextMenu()->palette().color(QPalette::WindowText);
        QStringList withSymbols;
        for (QAction* action : controller.contextMenu()->actions()) {
            if (action->isSeparator())
                continue;
            const QImage image = action->icon().pixmap(16, 16).toImage();
            int drawn = 0, offColour = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    if (pixel.alpha() < 128)
                        continue;
                    ++drawn;
                    offColour += pixel.red() != text.red() || pixel.green() != text.green() ||
                                 pixel.blue() != text.blue();
                }
            if (drawn > 10 && offColour == 0)
                withSymbols.append(action->text());
        }
        EXPECT_EQ(withSymbols, (QStringList{"Sign in with GitHub", "Your Usage",
                                            "Copy referral link", "Sign out", "Quit Varno"}))
            << name;
    }
    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(theme);
}

TEST(MenuBarController, WithoutATraySaysSoOnceAndStillOpensThePanel) {
    ControllerHarness h;
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return h.noTrayNotices > 0; }));
    // Several rechecks later, still once.
    waitUntil([] { return false; }, 50ms);
    EXPECT_EQ(h.noTrayNotices, 1);
    EXPECT_EQ(controller.statusItem(), nullptr);
    controller.togglePanel();
    EXPECT_TRUE(controller.panel()->isVisible());
    controller.togglePanel();
    EXPECT_FALSE(controller.panel()->isVisible());
}

// Openings without a click (`varno --toggle`, after sign-in) go where the last click
// was, hanging from the bar's edge; only before any click, to the corner.
TEST(MenuBarController, ThePanelHasOnePlaceTheLastClick) {
    ControllerHarness h;
    h.keychainSession = h.saved();
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return h.store->session() && !h.store->busy(); }));
    GlassPanel* panel = controller.panel();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_GT(available.width(), 400);

    controller.togglePanel();
    const QRect cornerCard = panel->cardGeometry();
    EXPECT_EQ(cornerCard.right() + 1, available.right() + 1 - 8) << "before any click";
    controller.togglePanel();

    // A click on an icon in a 27-high top bar, left of the corner.
    h.bar = QRect(available.x(), available.y(), available.width(), 27);
    const QPoint icon(available.x() + available.width() / 2, available.y() + 13);
    QCursor::setPos(icon);
    controller.clicked(QSystemTrayIcon::Trigger);
    ASSERT_TRUE(panel->isVisible());
    const QRect clicked = panel->cardGeometry();
    EXPECT_EQ(clicked.top(), available.y() + 27) << "hangs from the bar's edge";
    EXPECT_EQ(clicked.right() + 1, icon.x() - 13 + 27 + 12);

    // Elsewhere the pointer goes, the panel's place does not.
    QCursor::setPos(available.center());
    for (int i = 0; i < 2; ++i)
        controller.togglePanel();
    EXPECT_EQ(panel->cardGeometry(), clicked);
    controller.togglePanel();
    controller.showPanel();
    EXPECT_EQ(panel->cardGeometry(), clicked);

    // A click reported where no tray can be (mid-screen): the remembered place.
    controller.togglePanel();
    h.bar.reset();
    controller.clicked(QSystemTrayIcon::Trigger);
    EXPECT_EQ(panel->cardGeometry(), clicked);
}

TEST(MenuBarController, NotificationsFollowTheirMenuItemAndAClickOpensThePanel) {
    ControllerHarness h;
    h.withNotifications = true;
    h.realView = true;
    h.withTray = true; // a StatusNotifierItem host draws the exported menu
    h.keychainSession = h.saved();
    h.answerAsking({"Bob"});
    MenuBarController& controller = h.launch();
    const auto notificationsItem = [&]() -> QAction* {
        openMenu(controller);
        for (QAction* a : controller.contextMenu()->actions())
            if (a->text() == "Notifications")
                return a;
        return nullptr;
    };
    ASSERT_TRUE(waitUntil([&] { return h.store->dashboard() && !h.store->busy(); }));
    EXPECT_TRUE(h.notifier->shown.isEmpty()) << "the first load only records";
    const QString item =
        "Notifications|on|Tell me about new friend requests and friends who pass me";
    EXPECT_EQ(openMenu(controller),
              (readyMenu.mid(0, 6) + QStringList{"-", item + "|checked", "Quit Varno|on|"}))
        << "on by default";
    EXPECT_FALSE(notificationsItem()->icon().isNull())
        << "a symbol, so that its label lines up with the others' in the tray's menu";

    h.answerAsking({"Bob", "Cy"});
    ASSERT_TRUE(h.nextPass());
    // The name isolated, so that it cannot reorder the words around it.
    EXPECT_EQ(h.notifier->shown,
              QStringList{QString::fromUtf8("New friend request | \u2068Cy\u2069 | friends")});

    // A click on it: the panel, with the friends sheet on it.
    ASSERT_FALSE(controller.panel()->isVisible());
    emit h.notifier->activated("friends");
    EXPECT_TRUE(controller.panel()->isVisible());
    auto* view = qobject_cast<VarnoView*>(controller.panel()->content());
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(
        waitUntil([&] { return view->friendsSheet() && view->friendsSheet()->isVisible(); }));

    // Off from the menu, and remembered: nothing more is shown.
    notificationsItem()->trigger();
    EXPECT_TRUE(openMenu(controller).contains(item + "|unchecked"));
    EXPECT_EQ(h.settings.value("notificationsEnabled").toBool(), false);
    h.answerAsking({"Bob", "Cy", "Di"});
    ASSERT_TRUE(h.nextPass());
    EXPECT_EQ(h.notifier->shown.size(), 1);
}

} // namespace
} // namespace varno
