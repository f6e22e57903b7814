#include "ControllerHarness.h"
#include "Printers.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace varno {
namespace {

using test::ControllerHarness;
using test::waitUntil;

struct MenuLine {
    QString title; // "-" for a separator
    bool enabled = false;
    QString toolTip;
    bool operator==(const MenuLine&) const = default;
};

std::ostream& operator<<(std::ostream& out, const MenuLine& line) {
    return out << line.title.toStdString() << (line.enabled ? " [on]" : " [off]") << " "
               << line.toolTip.toStdString();
}

// The menu as a user sees it when it opens.
QList<MenuLine> openMenu(MenuBarController& controller) {
    QMenu* menu = controller.contextMenu();
    emit menu->aboutToShow();
    QList<MenuLine> lines;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            lines.append({QStringLiteral("-"), false, {}});
            continue;
        }
        // QAction's tool tip falls back to the title; only a real tip counts.
        const QString tip = action->toolTip() == action->text() ? QString() : action->toolTip();
        lines.append({action->text(), action->isEnabled(), tip});
    }
    return lines;
}

QAction* menuAction(MenuBarController& controller, const QString& title) {
    emit controller.contextMenu()->aboutToShow();
    for (QAction* action : controller.contextMenu()->actions())
        if (action->text() == title)
            return action;
    return nullptr;
}

const QString referTip = QStringLiteral("Copy your invite link to the clipboard");

TEST(MenuBarController, MenuShowsWhatCanBeDoneNow) {
    const QList<MenuLine> signedOut = {{"Copy referral link", false, referTip},
                                       {"-", false, {}},
                                       {"Sign out", false, {}},
                                       {"Quit Varno", true, {}}};
    const QList<MenuLine> signedIn = {{"Copy referral link", true, referTip},
                                      {"-", false, {}},
                                      {"Sign out", true, {}},
                                      {"Quit Varno", true, {}}};

    ControllerHarness h;
    test::Gate gate;
    h.restorationGate = &gate;
    h.keychainSession = SavedSession{QStringLiteral("tok-1"), test::alice(), h.base()};
    MenuBarController& controller = h.launch();

    // Launching: busy until the saved session is back.
    EXPECT_TRUE(h.store->busy());
    EXPECT_EQ(openMenu(controller), signedOut);

    gate.open();
    ASSERT_TRUE(waitUntil([&] { return h.dashboardLoads >= 1 && !h.store->busy(); }));
    EXPECT_EQ(openMenu(controller), signedIn);

    h.store->setBusy(true); // e.g. a sync or a friend action
    EXPECT_EQ(openMenu(controller), signedOut);
    h.store->setBusy(false);

    QAction* quit = menuAction(controller, QStringLiteral("Quit Varno"));
    ASSERT_TRUE(quit);
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->trigger();
    EXPECT_EQ(h.quitRequests, 1);
}

TEST(MenuBarController, MenuCarriesTheUpdateItemOnlyWithAnUpdater) {
    ControllerHarness h;
    bool canCheck = false;
    int checks = 0;
    h.updater = Updater{[&] { return canCheck; }, [&] { ++checks; }};
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return !h.store->busy(); }));

    QList<MenuLine> lines = openMenu(controller);
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[2], (MenuLine{QStringLiteral("Check for Updates\u2026"), false, {}}));
    EXPECT_EQ(lines[3].title, "-");
    canCheck = true;
    EXPECT_TRUE(openMenu(controller)[2].enabled);
    menuAction(controller, QStringLiteral("Check for Updates\u2026"))->trigger();
    EXPECT_EQ(checks, 1);
}

TEST(MenuBarController, LaunchRestoresTheSessionThenAnnouncesAndSyncs) {
    ControllerHarness h;
    // The settings name another server; the saved session's own server wins for
    // this run without touching the settings.
    h.settings->setValue(QStringLiteral("serverURL"), QStringLiteral("http://127.0.0.1:9"));
    test::Gate gate;
    h.restorationGate = &gate;
    h.keychainSession = SavedSession{QStringLiteral("tok-1"), test::alice(), h.base()};
    MenuBarController& controller = h.launch();

    EXPECT_TRUE(h.store->busy());
    EXPECT_FALSE(h.store->session());
    EXPECT_TRUE(h.telemetry.captures().isEmpty());
    EXPECT_EQ(controller.automaticSyncTask(), nullptr);

    gate.open();
    ASSERT_TRUE(waitUntil([&] { return h.dashboardLoads >= 1 && !h.store->busy(); }));
    EXPECT_EQ(h.store->serverURL(), h.base());
    EXPECT_EQ(h.settings->value(QStringLiteral("serverURL")).toString(), "http://127.0.0.1:9");
    ASSERT_TRUE(h.store->session());
    EXPECT_EQ(h.store->session()->token, "tok-1");
    // Identified before the launch event; the first sync follows at once.
    EXPECT_EQ(h.telemetry.calls.mid(0, 3), (QStringList{"identify u-alice", "capture app_launched",
                                                        "capture usage_sync_completed"}));
    EXPECT_EQ(h.requestsTo("POST", "/api/usage"), 1);
    EXPECT_TRUE(h.sleeps.isEmpty() || h.sleeps.first() == 60s);
    ASSERT_TRUE(waitUntil([&] { return !h.sleeps.isEmpty(); }));
    EXPECT_EQ(h.sleeps.first(), 60s);
}

TEST(MenuBarController, LaunchWithoutASessionStillAnnouncesAndIdles) {
    ControllerHarness h;
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return h.sleeps.size() == 1; }));
    ASSERT_TRUE(h.nextPass());
    ASSERT_TRUE(h.nextPass());
    EXPECT_FALSE(h.store->busy());
    EXPECT_FALSE(h.store->session());
    EXPECT_EQ(h.telemetry.captures(), QStringList{"capture app_launched"});
    EXPECT_EQ(h.server.requestCount(), 0) << "the loop does nothing while signed out";
    EXPECT_EQ(h.readings, 0);

    // Once a session arrives, the next pass syncs.
    h.store->setSession(SavedSession{QStringLiteral("tok-1"), test::alice(), h.base()});
    h.tick();
    ASSERT_TRUE(waitUntil([&] { return h.requestsTo("POST", "/api/usage") >= 1; }));
    ASSERT_NE(controller.automaticSyncTask(), nullptr);
    EXPECT_FALSE(controller.automaticSyncTask()->isFinished());
}

TEST(MenuBarController, SyncLoopSkipsPassesWhileTheStoreIsBusy) {
    ControllerHarness h;
    h.launchSignedIn();
    ASSERT_TRUE(waitUntil([&] { return h.sleeps.size() == 1; }));
    EXPECT_EQ(h.requestsTo("POST", "/api/usage"), 1);
    h.store->setBusy(true); // e.g. a friend action runs
    ASSERT_TRUE(h.nextPass());
    ASSERT_TRUE(h.nextPass());
    EXPECT_EQ(h.requestsTo("POST", "/api/usage"), 1) << "busy passes are skipped, not queued";
    h.store->setBusy(false);
    ASSERT_TRUE(h.nextPass());
    EXPECT_EQ(h.requestsTo("POST", "/api/usage"), 2);
    EXPECT_EQ(h.sleeps, (QList<std::chrono::milliseconds>(4, 60s)));
}

TEST(MenuBarController, QuitCancelsBothJobsAndFlushes) {
    {
        // During launch: the restoration is still waiting for the keychain.
        ControllerHarness h;
        test::Gate gate;
        h.restorationGate = &gate;
        MenuBarController& controller = h.launch();
        controller.applicationWillTerminate();
        ASSERT_TRUE(
            waitUntil([&] { return controller.sessionRestorationTask()->isFinished(); }, 2s));
        EXPECT_EQ(controller.automaticSyncTask(), nullptr) << "the loop never starts";
        EXPECT_TRUE(h.telemetry.captures().isEmpty()) << "no app_launched after quitting";
        EXPECT_EQ(h.telemetry.flushes, 1);
    }
    {
        // Running: the loop's sleep wakes at once when cancelled.
        ControllerHarness h;
        MenuBarController& controller = h.launchSignedIn();
        ASSERT_TRUE(waitUntil([&] { return !h.sleeps.isEmpty(); }));
        const auto started = std::chrono::steady_clock::now();
        controller.applicationWillTerminate();
        ASSERT_TRUE(waitUntil([&] { return controller.automaticSyncTask()->isFinished(); }, 2s));
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
        EXPECT_TRUE(controller.sessionRestorationTask()->isFinished());
        EXPECT_EQ(h.telemetry.flushes, 1);
    }
}

TEST(MenuBarController, LeftClickSignsInOpensAndClosesThePanel) {
    ControllerHarness h;
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return !h.store->busy(); }));
    GlassPanel* panel = controller.panel();
    ASSERT_TRUE(panel);

    // Signed out: a left click starts the browser sign-in.
    controller.clicked(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(controller.isSigningIn());
    ASSERT_TRUE(waitUntil([&] { return h.router.isWaiting(); }));
    ASSERT_EQ(h.opened.size(), 1);
    EXPECT_TRUE(h.opened.first().toString().startsWith(h.base() + "/dev/signin"));

    // A second click while it waits starts nothing new; it shows the panel with
    // the wait (and a third hides it again).
    controller.clicked(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(panel->isVisible());
    controller.clicked(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(h.requestsTo("GET", "/api/auth/github"), 1);
    EXPECT_EQ(h.opened.size(), 1);

    // The browser comes back: signed in, synced, and the panel opens.
    ASSERT_TRUE(h.router.deliver(h.callback(h.startState())));
    ASSERT_TRUE(waitUntil([&] { return !controller.isSigningIn(); }));
    ASSERT_TRUE(h.store->session());
    EXPECT_EQ(h.store->session()->token, "tok-2");
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(h.requestsTo("POST", "/api/usage"), 1);
    const int opened = h.telemetry.captures().count("capture leaderboard_opened");
    EXPECT_EQ(opened, 2) << "the wait panel and the leaderboard";

    // Signed in: click closes, click opens; only openings are counted.
    controller.clicked(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(panel->isVisible());
    controller.clicked(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(panel->isVisible());
    controller.showPanel(); // already open: no new event
    EXPECT_EQ(h.telemetry.captures().count("capture leaderboard_opened"), opened + 1);
    controller.togglePanel();
    EXPECT_FALSE(panel->isVisible());
}

TEST(MenuBarController, MenuOpensOnRightOrControlClickAndSignsOut) {
    ControllerHarness h;
    MenuBarController& controller = h.launchSignedIn();
    controller.showPanel();
    ASSERT_TRUE(controller.panel()->isVisible());

    controller.clicked(QSystemTrayIcon::Context);
    EXPECT_TRUE(controller.contextMenu()->isVisible());
    EXPECT_FALSE(controller.panel()->isVisible());
    EXPECT_TRUE(controller.contextMenu()->actions().first()->isEnabled()) << "built fresh";
    controller.contextMenu()->hide();

    h.store->setBusy(true);
    controller.clicked(QSystemTrayIcon::Trigger, Qt::ControlModifier);
    EXPECT_TRUE(controller.contextMenu()->isVisible());
    EXPECT_FALSE(controller.contextMenu()->actions().first()->isEnabled());
    EXPECT_FALSE(controller.panel()->isVisible());
    controller.contextMenu()->hide();
    h.store->setBusy(false);

    // "Sign out" closes the panel first; the keychain item goes too.
    controller.showPanel();
    menuAction(controller, QStringLiteral("Sign out"))->trigger();
    EXPECT_FALSE(controller.panel()->isVisible());
    ASSERT_TRUE(waitUntil([&] { return !h.store->session() && !h.store->busy(); }));
    EXPECT_EQ(h.requestsTo("POST", "/api/auth/logout"), 1);
    EXPECT_FALSE(h.secrets->item(SessionKeychain::service, SessionKeychain::key));
}

TEST(MenuBarController, FailedSignInShowsOneAlertAndCancelShowsNone) {
    ControllerHarness h;
    MenuBarController& controller = h.launch();
    ASSERT_TRUE(waitUntil([&] { return !h.store->busy(); }));
    QList<QMessageBox*> alerts;
    QObject::connect(&controller, &MenuBarController::alertShown,
                     [&](QMessageBox* box) { alerts.append(box); });

    // A forged callback: the store's message moves into the alert.
    h.panelSignIn();
    ASSERT_TRUE(waitUntil([&] { return h.router.isWaiting(); }));
    h.router.deliver(h.callback(QStringLiteral("forged")));
    ASSERT_TRUE(waitUntil([&] { return !controller.isSigningIn(); }));
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0]->text(), "Could not sign in with GitHub");
    EXPECT_EQ(alerts[0]->informativeText(),
              "GitHub sign-in could not be verified. Please try again.");
    EXPECT_TRUE(alerts[0]->isVisible());
    EXPECT_FALSE(h.store->error()) << "taken out of the store";
    EXPECT_FALSE(h.store->session());
    alerts[0]->close();

    // The panel's Cancel: no alert, no message, and a new sign-in can start.
    h.panelSignIn();
    ASSERT_TRUE(waitUntil([&] { return h.router.isWaiting(); }));
    h.panelCancel();
    ASSERT_TRUE(waitUntil([&] { return !controller.isSigningIn(); }));
    EXPECT_EQ(alerts.size(), 1);
    EXPECT_FALSE(h.store->error());
    EXPECT_FALSE(h.store->busy());
    controller.signIn();
    EXPECT_TRUE(controller.isSigningIn());
}

TEST(MenuBarController, ClickDuringLaunchWaitsForTheRestoredSession) {
    ControllerHarness h;
    test::Gate gate;
    h.restorationGate = &gate;
    h.keychainSession = SavedSession{QStringLiteral("tok-1"), test::alice(), h.base()};
    MenuBarController& controller = h.launch();
    controller.clicked(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(controller.isSigningIn());
    gate.open();
    ASSERT_TRUE(waitUntil([&] { return !controller.isSigningIn(); }));
    EXPECT_EQ(h.requestsTo("GET", "/api/auth/github"), 0) << "no sign-in: the session came back";
    EXPECT_TRUE(h.opened.isEmpty());
    EXPECT_TRUE(controller.panel()->isVisible());
}

TEST(MenuBarController, CopiesTheInviteLinkOrSaysWhyNot) {
    ControllerHarness h;
    MenuBarController& controller = h.launchSignedIn();
    QList<QMessageBox*> alerts;
    QObject::connect(&controller, &MenuBarController::alertShown,
                     [&](QMessageBox* box) { alerts.append(box); });

    menuAction(controller, QStringLiteral("Copy referral link"))->trigger();
    ASSERT_TRUE(waitUntil([&] { return !h.clipboardWrites.isEmpty(); }));
    EXPECT_TRUE(h.clipboardWrites.first().contains(QStringLiteral("r=ADA42")))
        << h.clipboardWrites.first().toStdString();
    EXPECT_EQ(h.telemetry.captures().count("capture referral_link_copied"), 1);

    // A clipboard that does not keep the text: no event, no message.
    h.clipboardWorks = false;
    controller.referFriend();
    ASSERT_TRUE(waitUntil([&] { return h.clipboardWrites.size() == 2; }));
    EXPECT_EQ(h.telemetry.captures().count("capture referral_link_copied"), 1);
    EXPECT_TRUE(alerts.isEmpty());

    // No referral code even after a reload: an alert with the reason.
    h.referralCode.reset();
    h.store->setDashboard(std::nullopt);
    controller.referFriend();
    ASSERT_TRUE(waitUntil([&] { return !alerts.isEmpty(); }));
    EXPECT_EQ(alerts[0]->text(), "Could not copy your invite link");
    EXPECT_FALSE(alerts[0]->informativeText().isEmpty());
    alerts[0]->close();
}

TEST(MenuBarController, PanelHangsFromTheBestAnchorAvailable) {
    const QRect area(0, 27, 1920, 1053);
    struct Case {
        std::optional<QRect> tray;
        std::optional<QPoint> pointer;
        QRect expected;
    } cases[] = {
        {QRect(1800, 0, 24, 24), QPoint(5, 5), QRect(1800, 0, 24, 24)},
        {QRect(), QPoint(700, 10), QRect(QPoint(700, 10), QSize(0, 0))},
        {QRect(0, 0, 0, 0), QPoint(700, 10), QRect(QPoint(700, 10), QSize(0, 0))},
        {std::nullopt, std::nullopt, QRect(QPoint(1920, 27), QSize(0, 0))},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MenuBarController::panelAnchor(c.tray, c.pointer, area), c.expected);
}

} // namespace
} // namespace varno

namespace varno {
namespace {

TEST(MenuBarController, StatusItemAppearsWhenATrayDoes) {
    test::ControllerHarness h;
    MenuBarController& controller = h.launch();
    EXPECT_EQ(controller.statusItem(), nullptr);
    // Without a tray the panel is still reachable.
    controller.togglePanel();
    EXPECT_TRUE(controller.panel()->isVisible());
    controller.togglePanel();

    h.trayAvailable = true; // the session's tray host has started
    ASSERT_TRUE(test::waitUntil([&] { return controller.statusItem() != nullptr; }, 2s));
    EXPECT_EQ(controller.statusItem()->toolTip(), "Varno");
    EXPECT_FALSE(controller.statusItem()->icon().isNull());
    EXPECT_FALSE(controller.statusItem()->icon().pixmap(22, 22).isNull());
}

} // namespace
} // namespace varno
