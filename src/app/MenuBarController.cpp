// SPDX-License-Identifier: MIT
#include "app/MenuBarController.h"

#include "analytics/Analytics.h"
#include "app/LoginItem.h"
#include "app/MenuIcons.h"
#include "app/Notifier.h"
#include "app/TrayIconTheme.h"
#include "async/Background.h"
#include "async/CancellationError.h"
#include "auth/CallbackRouter.h"
#include "model/Errors.h"
#include "model/Formatting.h"
#include "model/UsageHistory.h"
#include "store/AppStore.h"
#include "store/FriendNewsWatcher.h"
#include "ui/Alert.h"
#include "ui/PanelPlacement.h"
#include "ui/SignInLinkWindow.h"
#include "ui/VarnoView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace varno {

namespace {

// A tray click first takes activation away from an open panel, which closes it;
// the click that follows must not open it again.
constexpr std::chrono::milliseconds clickAfterDismissal{300};

// What a click on a notification opens.
const QString friendsTag = QStringLiteral("friends");
const QString leaderboardTag = QStringLiteral("leaderboard");

QList<PanelAnchor::Screen> currentScreens() {
    QList<PanelAnchor::Screen> screens;
    for (QScreen* screen : QGuiApplication::screens())
        screens.append({screen->name(), screen->geometry()});
    return screens;
}

// Qt draws a tray icon itself, as a small window embedded in the tray, only on an
// XEmbed tray; a StatusNotifierItem host draws the icon and its menu from what the
// app publishes over D-Bus.
bool trayIsXEmbed() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](const QWidget* window) {
        return window->inherits("QSystemTrayIconSys");
    });
}

// What the tray shows behind the icon, read from the screen; none where the screen
// cannot be read (Wayland) or the icon has no place yet.
std::optional<QColor> trayBackgroundBehind(const QSystemTrayIcon& icon) {
    const QRect place = icon.geometry();
    QScreen* screen = place.isValid() ? QGuiApplication::screenAt(place.center()) : nullptr;
    if (!screen)
        return std::nullopt;
    const QRect local = place.translated(-screen->geometry().topLeft());
    return TrayIconTheme::backgroundOf(
        screen->grabWindow(0, local.x(), local.y(), local.width(), local.height()).toImage());
}

} // namespace

std::function<bool(const QString&)> MenuBarParts::defaultClipboardWriter() {
    return [](const QString& text) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (!clipboard)
            return false;
        clipboard->clear();
        clipboard->setText(text);
        return clipboard->text() == text;
    };
}

std::function<void()> MenuBarParts::defaultQuit() {
    return [] { QCoreApplication::quit(); };
}

MenuBarController::MenuBarController(MenuBarParts parts, QObject* parent)
    : QObject(parent), parts_(std::move(parts)), store_(parts_.store) {
    Q_ASSERT(store_);
    sync_ = std::make_unique<SyncService>(
        SyncServiceParts{store_, parts_.readSession, parts_.sleeper, parts_.syncInterval});
    if (parts_.router)
        connect(parts_.router, &CallbackRouter::unclaimedSignInLink, this,
                &MenuBarController::showSignInLinkFromElsewhere);
}

MenuBarController::~MenuBarController() {
    if (signInTask_)
        signInTask_->cancel();
    delete signInLinkWindow_.data();
    if (statusItem_)
        statusItem_->hide();
}

void MenuBarController::applicationDidFinishLaunching() {
    // Until the saved session is back, store operations and the menu's store
    // items stay off.
    store_->setBusy(true);

    // The menu is rebuilt at every opening, from the store as it is then, and kept
    // current in between for trays that show an exported copy of it.
    menu_ = std::make_unique<QMenu>();
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] {
        closePanel();
        rebuildMenu(menu_.get());
    });
    rebuildMenu(menu_.get());
    connect(store_, &AppStore::sessionChanged, this, &MenuBarController::menuStateChanged);
    connect(store_, &AppStore::busyChanged, this, &MenuBarController::menuStateChanged);
    // Today and the 30 days after every reading; only "Varno" while signed out.
    connect(store_, &AppStore::snapshotChanged, this, &MenuBarController::updateToolTip);
    connect(store_, &AppStore::sessionChanged, this, &MenuBarController::updateToolTip);
    if (parts_.friendNews) {
        connect(parts_.friendNews, &FriendNewsWatcher::notice, this, &MenuBarController::notify);
        connect(parts_.friendNews, &FriendNewsWatcher::enabledChanged, this,
                &MenuBarController::menuStateChanged);
    }
    if (parts_.notifier)
        connect(parts_.notifier.get(), &Notifier::activated, this,
                &MenuBarController::notificationClicked);
    if (parts_.trayAvailable && parts_.trayAvailable()) {
        createStatusItem();
    } else if (parts_.trayAvailable) {
        // Until a tray appears, `varno --toggle` reaches the panel.
        trayWatch_ = std::make_unique<QTimer>();
        connect(trayWatch_.get(), &QTimer::timeout, this, &MenuBarController::trayRechecked);
        trayWatch_->start(parts_.trayRecheck);
    }

    QPointer<MenuBarController> self(this);
    auto content = parts_.panelContent;
    panel_ = std::make_unique<GlassPanel>([self, content](PanelVisibility* visibility) -> QWidget* {
        if (!content)
            return nullptr;
        return content(
            visibility,
            [self] {
                if (self)
                    self->signIn();
            },
            [self] {
                if (self)
                    self->cancelSignIn();
            });
    });

    sync_->start();
}

void MenuBarController::trayRechecked() {
    if (parts_.trayAvailable()) {
        trayWatch_->stop();
        createStatusItem();
        return;
    }
    // A session's tray host may start a moment after the app: only a tray still
    // missing at the first recheck is worth telling the user about.
    if (!announcedNoTray_) {
        announcedNoTray_ = true;
        if (parts_.announceNoTray)
            parts_.announceNoTray(parts_.notifier.get());
    }
}

void MenuBarController::createStatusItem() {
    if (!iconTheme_) {
        iconTheme_ = std::make_unique<TrayIconTheme>();
        connect(iconTheme_.get(), &TrayIconTheme::changed, this, [this] {
            if (!statusItem_)
                return;
            statusItem_->setIcon(iconTheme_->icon());
            if (statusItem_->contextMenu())
                rebuildMenu(menu_.get());
        });
    } else {
        iconTheme_->refresh();
    }
    statusItem_ = std::make_unique<QSystemTrayIcon>();
    statusItem_->setIcon(iconTheme_->icon());
    updateToolTip();
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                clicked(reason, QGuiApplication::queryKeyboardModifiers());
            });
    statusItem_->show();
    // A StatusNotifierItem host opens the menu by itself on a right click, from the
    // copy the app exports, and never reports that click. On an XEmbed tray both
    // clicks come here and the menu pops up at the icon's edge, as on the menu bar.
    // Set in the same turn as show(), before the host can ask for the item's menu.
    if (!trayIsXEmbed()) {
        statusItem_->setContextMenu(menu_.get());
        rebuildMenu(menu_.get()); // in the host's colours now
        return;
    }
    // An XEmbed tray publishes its colours rarely; the bar behind the icon is what the
    // icon must stand out from. Looked at once the tray has painted it.
    for (const int delayMs : {300, 2000})
        QTimer::singleShot(delayMs, this, [this] {
            if (statusItem_ && iconTheme_ && !iconTheme_->hasTrayForeground())
                iconTheme_->setTrayBackground(trayBackgroundBehind(*statusItem_));
        });
}

void MenuBarController::applicationWillTerminate() {
    sync_->stop({signInTask_});
}

void MenuBarController::clicked(QSystemTrayIcon::ActivationReason reason,
                                Qt::KeyboardModifiers modifiers) {
    if (reason != QSystemTrayIcon::Context && reason != QSystemTrayIcon::Trigger)
        return;
    const QRect anchor = clickAnchor(QCursor::pos());
    if (reason == QSystemTrayIcon::Context || modifiers.testFlag(Qt::ControlModifier))
        popUpMenu(anchor);
    else
        leftClick(anchor);
}

QRect MenuBarController::clickAnchor(const QPoint& pointer) {
    std::optional<QRect> tray;
    if (statusItem_)
        tray = statusItem_->geometry();
    std::optional<QRect> bar;
    if (parts_.desktopBarAt && !(tray && tray->isValid() && !tray->isEmpty()))
        bar = parts_.desktopBarAt(pointer);
    QRect screen;
    if (QScreen* under = QGuiApplication::screenAt(pointer))
        screen = under->geometry();
    const std::optional<QRect> anchor = PanelAnchor::fromClick(tray, pointer, bar, screen);
    if (!anchor)
        return openingAnchor();
    anchors_.remember(*anchor, currentScreens());
    return *anchor;
}

QRect MenuBarController::openingAnchor() const {
    // An XEmbed tray knows where the icon is, click or no click.
    if (statusItem_) {
        const QRect tray = statusItem_->geometry();
        if (tray.isValid() && !tray.isEmpty())
            return tray;
    }
    if (const std::optional<QRect> remembered = anchors_.recall(currentScreens()))
        return *remembered;
    QRect available;
    if (QScreen* screen = QGuiApplication::primaryScreen())
        available = screen->availableGeometry();
    return PanelAnchor::corner(available);
}

void MenuBarController::popUpMenu(const QRect& anchor) {
    if (menu_->isVisible())
        return;
    // Hangs from the icon's edge, like the panel, rather than from the pointer.
    closePanel();
    rebuildMenu(menu_.get());
    QRect screen;
    if (QScreen* under = QGuiApplication::screenAt(anchor.center()))
        screen = under->geometry();
    else if (QScreen* primary = QGuiApplication::primaryScreen())
        screen = primary->geometry();
    menu_->popup(PanelPlacement::menuPosition(anchor, menu_->sizeHint(), screen));
}

void MenuBarController::leftClick(const QRect& anchor) {
    // While a sign-in waits, the click shows (or hides) the panel that offers to
    // cancel it instead of starting another one.
    if (!store_->session() && !isSigningIn_) {
        signIn();
        return;
    }
    if (!panel_)
        return;
    if (!panel_->isVisible()) {
        if (panel_->dismissedWithin(clickAfterDismissal))
            return;
        showLeaderboard(anchor);
    } else {
        panel_->orderOut();
    }
}

void MenuBarController::showPanel() {
    if (!panel_)
        return;
    showLeaderboard(openingAnchor());
}

void MenuBarController::togglePanel() {
    if (!panel_)
        return;
    if (panel_->isVisible())
        panel_->orderOut();
    else
        showPanel();
}

void MenuBarController::showFriends() {
    showPanel();
    if (!panel_ || !store_->session())
        return;
    if (auto* view = qobject_cast<VarnoView*>(panel_->content()))
        view->setShowFriends(true);
}

void MenuBarController::showUsage() {
    showPanel();
    if (!panel_ || !store_->session())
        return;
    if (auto* view = qobject_cast<VarnoView*>(panel_->content()))
        view->setSheet(VarnoView::Sheet::usage);
}

void MenuBarController::updateToolTip() {
    if (!statusItem_)
        return;
    QString tip = QStringLiteral("Varno");
    if (store_->session() && store_->snapshot()) {
        const UsageHistory history(*store_->snapshot(), store_->now(), store_->timeZone());
        tip += QStringLiteral(" — today %1 · 30 days %2")
                   .arg(compactTokens(history.today().total()), compactTokens(history.total()));
    }
    statusItem_->setToolTip(tip);
}

void MenuBarController::notify(const FriendNotice& notice) {
    if (parts_.notifier)
        parts_.notifier->show(notice.title, notice.body,
                              notice.kind == FriendNotice::Kind::friendRequest ? friendsTag
                                                                               : leaderboardTag);
}

void MenuBarController::notificationClicked(const QString& tag) {
    if (tag == friendsTag)
        showFriends();
    else
        showPanel();
}

void MenuBarController::showLeaderboard(const QRect& anchor) {
    if (!panel_)
        return;
    const bool wasVisible = panel_->isVisible();
    panel_->showRelativeTo(anchor);
    if (!wasVisible && panel_->isVisible())
        store_->analytics()->capture(Analytics::Event::leaderboardOpened);
}

void MenuBarController::closePanel() {
    if (panel_ && panel_->isVisible())
        panel_->orderOut();
}

void MenuBarController::signIn() {
    if (store_->session() || isSigningIn_)
        return;
    closePanel();
    isSigningIn_ = true;
    menuStateChanged();
    signInTask_ = Job::start([this](std::stop_token token) { return runSignIn(token); });
}

QCoro::Task<void> MenuBarController::runSignIn(std::stop_token token) {
    QPointer<MenuBarController> self(this);
    AppStore* store = store_;
    // A click during launch waits for the saved session before signing in anew.
    if (auto restoration = sync_->sessionRestorationTask())
        co_await restoration->wait();
    if (self && !store->session() && !token.stop_requested())
        co_await store->loginWithGitHub(token);
    if (!self)
        co_return;
    if (store->session()) {
        showLeaderboard(openingAnchor());
    } else if (const std::optional<QString> message = store->error()) {
        store->setError(std::nullopt);
        showAlert(QStringLiteral("Could not sign in with GitHub"), *message);
    }
    isSigningIn_ = false;
    menuStateChanged();
}

void MenuBarController::cancelSignIn() {
    if (signInTask_ && !signInTask_->isFinished())
        signInTask_->cancel();
}

void MenuBarController::referFriend() {
    Job::start([this](std::stop_token token) { return runReferFriend(token); });
}

QCoro::Task<void> MenuBarController::runReferFriend(std::stop_token token) {
    QPointer<MenuBarController> self(this);
    AppStore* store = store_;
    QUrl url;
    QString failure;
    try {
        url = co_await store->loadReferralURL(token);
    } catch (...) {
        failure = describeError(std::current_exception());
    }
    if (!self)
        co_return;
    if (!failure.isNull()) {
        showAlert(QStringLiteral("Could not copy your invite link"), failure);
        co_return;
    }
    // The link as it is sent, percent-encoding kept, exactly as the friends sheet copies it.
    if (parts_.writeClipboard && parts_.writeClipboard(url.toString(QUrl::FullyEncoded)))
        store->analytics()->capture(Analytics::Event::referralLinkCopied);
}

void MenuBarController::logout() {
    closePanel();
    AppStore* store = store_;
    Job::start([store](std::stop_token token) { return store->logout(token); });
}

void MenuBarController::setStartAtLogin(bool enabled) {
    if (!parts_.loginItem)
        return;
    // One change after the other, in the order the user asked for them.
    std::shared_ptr<Job> previous = loginItemTask_;
    loginItemTask_ = Job::start([this, previous, enabled](std::stop_token token) {
        return runSetStartAtLogin(previous, enabled, token);
    });
}

QCoro::Task<void> MenuBarController::runSetStartAtLogin(std::shared_ptr<Job> previous, bool enabled,
                                                        std::stop_token token) {
    QPointer<MenuBarController> self(this);
    std::shared_ptr<LoginItem> item = parts_.loginItem;
    if (previous)
        co_await previous->wait();
    QString failure;
    try {
        // Writing the entry waits for the disk: off the main thread.
        auto change = [item, enabled](std::stop_token) { item->setEnabled(enabled); };
        co_await runInBackground(change, token);
    } catch (const CancellationError&) {
        co_return;
    } catch (...) {
        failure = describeError(std::current_exception());
    }
    if (!self)
        co_return;
    menuStateChanged(); // trays that show an exported copy of the menu
    if (failure.isNull())
        co_return;
    showAlert(enabled ? QStringLiteral("Could not turn on Start at Login")
                      : QStringLiteral("Could not turn off Start at Login"),
              failure);
}

void MenuBarController::quit() {
    if (parts_.quitApplication)
        parts_.quitApplication();
}

void MenuBarController::showSignInLinkFromElsewhere(const QString& link) {
    // One window, whatever the number of links: the newest one shows.
    if (!signInLinkWindow_) {
        signInLinkWindow_ = new SignInLinkWindow(parts_.writeClipboard);
        signInLinkWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    signInLinkWindow_->setLink(link);
    signInLinkWindow_->present();
}

SignInLinkWindow* MenuBarController::signInLinkWindow() const {
    return signInLinkWindow_.data();
}

void MenuBarController::menuStateChanged() {
    // A menu on screen keeps its items under the pointer; it is rebuilt when it opens.
    if (menu_ && !menu_->isVisible())
        rebuildMenu(menu_.get());
}

void MenuBarController::rebuildMenu(QMenu* menu) {
    menu->clear();
    menu->setToolTipsVisible(true);
    const bool signedInIdle = store_->session().has_value() && !store_->busy();
    // A StatusNotifierItem host draws the menu it reads in the tray's own colours, where
    // the icon's colour is the one that shows; Qt draws any other menu in its palette.
    const bool drawnByTray = statusItem_ && iconTheme_ && statusItem_->contextMenu() == menu;
    const QColor symbols =
        drawnByTray ? iconTheme_->colour() : menu->palette().color(QPalette::WindowText);
    using Symbol = MenuIcons::Symbol;

    // Some trays (GNOME's AppIndicator extension among them) open this menu on a left
    // click too: the panel, or the sign-in that comes first, must be reachable here.
    const bool signedIn = store_->session().has_value();
    if (signedIn || isSigningIn_) {
        QAction* open =
            menu->addAction(MenuIcons::icon(Symbol::panel, symbols), QStringLiteral("Open Varno"));
        connect(open, &QAction::triggered, this, &MenuBarController::showPanel);
    } else {
        QAction* signInAction = menu->addAction(MenuIcons::icon(Symbol::signIn, symbols),
                                                QStringLiteral("Sign in with GitHub"));
        connect(signInAction, &QAction::triggered, this, &MenuBarController::signIn);
    }
    QAction* usage =
        menu->addAction(MenuIcons::icon(Symbol::usage, symbols), QStringLiteral("Your Usage"));
    usage->setToolTip(QStringLiteral("Your tokens of the last 30 days, day by day"));
    usage->setEnabled(signedIn);
    connect(usage, &QAction::triggered, this, &MenuBarController::showUsage);
    menu->addSeparator();

    QAction* refer = menu->addAction(MenuIcons::icon(Symbol::link, symbols),
                                     QStringLiteral("Copy referral link"));
    refer->setToolTip(QStringLiteral("Copy your invite link to the clipboard"));
    refer->setEnabled(signedInIdle);
    connect(refer, &QAction::triggered, this, &MenuBarController::referFriend);

    menu->addSeparator();

    QAction* signOut =
        menu->addAction(MenuIcons::icon(Symbol::signOut, symbols), QStringLiteral("Sign out"));
    signOut->setEnabled(signedInIdle);
    connect(signOut, &QAction::triggered, this, &MenuBarController::logout);

    // Settings of this machine, together.
    if (parts_.friendNews || parts_.loginItem)
        menu->addSeparator();
    if (parts_.friendNews) {
        QAction* notifications = menu->addAction(QStringLiteral("Notifications"));
        notifications->setToolTip(
            QStringLiteral("Tell me about new friend requests and friends who pass me"));
        notifications->setCheckable(true);
        // A tray's own menu puts the check mark where the other items have their symbol
        // and the label after it: with a symbol of its own the labels line up. Qt draws
        // its menus with one column for both, where a symbol would hide the check mark.
        if (drawnByTray)
            notifications->setIcon(MenuIcons::icon(Symbol::notifications, symbols));
        notifications->setChecked(parts_.friendNews->enabled());
        FriendNewsWatcher* news = parts_.friendNews;
        connect(notifications, &QAction::triggered, news, &FriendNewsWatcher::setEnabled);
    }
    if (parts_.loginItem) {
        QAction* login = menu->addAction(QStringLiteral("Start at Login"));
        login->setCheckable(true);
        if (drawnByTray)
            login->setIcon(MenuIcons::icon(Symbol::startAtLogin, symbols));
        // Read anew at every opening: the entry may have been changed elsewhere.
        login->setChecked(parts_.loginItem->isEnabled());
        connect(login, &QAction::triggered, this, &MenuBarController::setStartAtLogin);
    }

    QAction* quitAction =
        menu->addAction(MenuIcons::icon(Symbol::quit, symbols), QStringLiteral("Quit Varno"));
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setEnabled(true);
    connect(quitAction, &QAction::triggered, this, &MenuBarController::quit);
}

void MenuBarController::showAlert(const QString& message, const QString& detail) {
    // One at a time: a second failure while the first is still up takes its place.
    if (alert_) {
        alert_->setText(message);
        alert_->setInformativeText(detail);
        alert_->present();
        emit alertShown(alert_);
        return;
    }
    auto* alert = new Alert(message, detail);
    auto* quitShortcut = new QAction(alert);
    quitShortcut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quitShortcut, &QAction::triggered, this, &MenuBarController::quit);
    alert->addAction(quitShortcut);
    alert_ = alert;
    // Application-modal but shown without blocking: the sync loop keeps running.
    alert->present();
    emit alertShown(alert);
}

} // namespace varno
