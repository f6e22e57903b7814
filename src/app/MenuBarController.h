// SPDX-License-Identifier: MIT
#pragma once

#include "app/DesktopBar.h"
#include "app/NoTrayNotice.h"
#include "app/PanelAnchor.h"
#include "app/SyncService.h"
#include "async/ContinuousClock.h"
#include "async/Job.h"
#include "model/Records.h"
#include "ui/GlassPanel.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSystemTrayIcon>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class QMenu;
class QTimer;
class QMessageBox;

namespace varno {

class Alert;
class AppStore;
class Analytics;
class CallbackRouter;
class SignInLinkWindow;
class FriendNewsWatcher;
class Notifier;
class TrayIconTheme;
class LoginItem;
struct FriendNotice;

// Everything the controller reaches outside itself; the defaults are the real ones.
struct MenuBarParts {
    AppStore* store = nullptr; // not owned; outlives the controller
    // Builds the panel's content. The controller passes its own sign-in and
    // cancel actions so that the panel's buttons go through it.
    std::function<QWidget*(PanelVisibility*, std::function<void()> onSignIn,
                           std::function<void()> onCancelSignIn)>
        panelContent;
    // The saved session, read without blocking the main thread; none when there is
    // none or it cannot be read.
    std::function<QCoro::Task<std::optional<SavedSession>>(std::stop_token)> readSession;
    // Whether a tray (notification area) is there to hold the status item. Asked
    // at launch and then every trayRecheck until one appears (a session's tray
    // host may start after the app).
    std::function<bool()> trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    std::chrono::milliseconds trayRecheck = std::chrono::seconds(5);
    // Said once when there is still no tray at the first recheck: the user must learn
    // that Varno runs, and how to reach it.
    std::function<void(Notifier*)> announceNoTray = &NoTrayNotice::announce;
    // The desktop bar under a point, for tray icons that report no geometry.
    std::function<std::optional<QRect>(const QPoint&)> desktopBarAt = &varno::desktopBarAt;
    // Writes plain text to the clipboard; true when reading it back gives the same text.
    std::function<bool(const QString&)> writeClipboard = defaultClipboardWriter();
    Sleeper sleeper = &ContinuousClock::sleep;
    std::chrono::milliseconds syncInterval = std::chrono::seconds(60);
    // "Start at Login"; none leaves the item out of the menu.
    std::shared_ptr<LoginItem> loginItem;
    // New friend requests and friends passing the user, with the "Notifications"
    // menu item that turns them on and off; none leaves both out. Not owned.
    FriendNewsWatcher* friendNews = nullptr;
    // Shows them; a click opens the panel, and the friends sheet for a request.
    std::shared_ptr<Notifier> notifier;
    std::function<void()> quitApplication = defaultQuit();
    // Where varno:// links arrive; a sign-in link that no sign-in here waits for is
    // shown in a window of its own. Not owned; none leaves that window out.
    CallbackRouter* router = nullptr;

    static std::function<bool(const QString&)> defaultClipboardWriter();
    static std::function<void()> defaultQuit();
};

// Owns the status item, the panel and the sync service (session restoration at
// launch and the automatic sync loop), and carries out the status item's clicks and
// its context menu.
class MenuBarController : public QObject {
    Q_OBJECT
public:
    explicit MenuBarController(MenuBarParts parts, QObject* parent = nullptr);
    ~MenuBarController() override;

    // Launch: busy until restored, status item, panel, restoration, then the loop.
    void applicationDidFinishLaunching();
    // Quit: cancels both jobs and flushes analytics.
    void applicationWillTerminate();

    // A click on the status item: a right click (or a left one with Control held)
    // opens the menu; a left click signs in, or opens or closes the panel.
    void clicked(QSystemTrayIcon::ActivationReason reason,
                 Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // The panel for a request that comes with no click (`varno`, `varno --toggle`).
    void showPanel();
    void togglePanel();
    // The panel with the friends sheet, or the usage sheet, on it (only while signed in).
    void showFriends();
    void showUsage();

    // Menu actions.
    void signIn();
    void cancelSignIn();
    void referFriend();
    void logout();
    void setStartAtLogin(bool enabled);
    void quit();

    // A sign-in link that belongs to a sign-in started elsewhere: shown with "Copy
    // link" and "Close", never acted on.
    void showSignInLinkFromElsewhere(const QString& link);
    SignInLinkWindow* signInLinkWindow() const;

    // Fills a menu with the items that apply right now.
    void rebuildMenu(QMenu* menu);
    // The status item's context menu: rebuilt each time it is about to show, and kept
    // current while closed, because a StatusNotifierItem host reads the exported copy
    // without saying when it opens it.
    QMenu* contextMenu() const { return menu_.get(); }

    // Where an opening without a click puts the panel: the icon, where the tray reports
    // its place; else where the last click on the icon was, on that screen; else the
    // primary screen's top-right corner.
    QRect openingAnchor() const;

    GlassPanel* panel() const { return panel_.get(); }
    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    bool isSigningIn() const { return isSigningIn_; }
    Job* sessionRestorationTask() const { return sync_->sessionRestorationTask().get(); }
    Job* automaticSyncTask() const { return sync_->automaticSyncTask().get(); }
    SyncService* syncService() const { return sync_.get(); }
    // The latest change of Start at Login (each waits for the one before).
    Job* loginItemTask() const { return loginItemTask_.get(); }

signals:
    // The modal alert has been put up, or a newer failure has taken over the one
    // already up (it deletes itself when dismissed).
    void alertShown(QMessageBox* alert);

private:
    void createStatusItem();
    void showLeaderboard(const QRect& anchor);
    void leftClick(const QRect& anchor);
    void popUpMenu(const QRect& anchor);
    void closePanel();
    void menuStateChanged();
    void updateToolTip();
    void trayRechecked();
    void notify(const FriendNotice& notice);
    void notificationClicked(const QString& tag);
    QRect clickAnchor(const QPoint& pointer);
    void showAlert(const QString& message, const QString& detail);
    QCoro::Task<void> runSignIn(std::stop_token token);
    QCoro::Task<void> runReferFriend(std::stop_token token);
    QCoro::Task<void> runSetStartAtLogin(std::shared_ptr<Job> previous, bool enabled,
                                         std::stop_token token);

    MenuBarParts parts_;
    AppStore* store_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QTimer> trayWatch_;
    std::unique_ptr<TrayIconTheme> iconTheme_;
    PanelAnchor anchors_;
    bool announcedNoTray_ = false;
    std::unique_ptr<GlassPanel> panel_;
    std::unique_ptr<SyncService> sync_;
    QPointer<SignInLinkWindow> signInLinkWindow_;
    std::shared_ptr<Job> signInTask_;
    std::shared_ptr<Job> loginItemTask_;
    bool isSigningIn_ = false;
    QPointer<Alert> alert_;
};

} // namespace varno
