#include "app/MenuBarController.h"

#include "analytics/Analytics.h"
#include "app/ChartIcon.h"
#include "model/Errors.h"
#include "store/AppStore.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <iterator>

namespace varno {

namespace {

// A tray click first takes activation away from an open panel, which closes it;
// the click that follows must not open it again.
constexpr std::chrono::milliseconds clickAfterDismissal{300};

QIcon themed(const char* name) {
    return QIcon::fromTheme(QString::fromLatin1(name));
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
}

MenuBarController::~MenuBarController() {
    for (const auto& job : {sessionRestorationTask_, automaticSyncTask_, signInTask_})
        if (job)
            job->cancel();
    if (statusItem_)
        statusItem_->hide();
}

void MenuBarController::applicationDidFinishLaunching() {
    // Until the saved session is back, store operations and the menu's store
    // items stay off.
    store_->setBusy(true);

    // The menu is rebuilt at every opening, from the store as it is then.
    menu_ = std::make_unique<QMenu>();
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] { rebuildMenu(menu_.get()); });
    if (parts_.trayAvailable && parts_.trayAvailable()) {
        createStatusItem();
    } else if (parts_.trayAvailable) {
        // Until a tray appears, `varno --toggle` reaches the panel.
        trayWatch_ = std::make_unique<QTimer>();
        connect(trayWatch_.get(), &QTimer::timeout, this, [this] {
            if (parts_.trayAvailable()) {
                trayWatch_->stop();
                createStatusItem();
            }
        });
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

    sessionRestorationTask_ =
        Job::start([this](std::stop_token token) { return restoreSession(token); });
}

void MenuBarController::createStatusItem() {
    statusItem_ = std::make_unique<QSystemTrayIcon>();
    statusItem_->setIcon(chartIconForPalette());
    statusItem_->setToolTip(QStringLiteral("Varno"));
    // No setContextMenu: both clicks come here, as on the menu bar.
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                clicked(reason, QGuiApplication::queryKeyboardModifiers());
            });
    statusItem_->show();
    emit statusItemShown();
}

QCoro::Task<void> MenuBarController::restoreSession(std::stop_token token) {
    QPointer<MenuBarController> self(this);
    std::optional<SavedSession> session;
    if (parts_.readSession)
        session = co_await parts_.readSession(token);
    if (!self || token.stop_requested())
        co_return;
    // The session's own server wins for this run; the user's settings keep theirs.
    if (session)
        store_->setServerURL(session->serverURL);
    store_->setSession(session);
    store_->setBusy(false);
    store_->analytics()->capture(Analytics::Event::appLaunched);
    automaticSyncTask_ =
        Job::start([this](std::stop_token loopToken) { return syncLoop(loopToken); });
    emit automaticSyncStarted();
}

QCoro::Task<void> MenuBarController::syncLoop(std::stop_token token) {
    QPointer<MenuBarController> self(this);
    const Sleeper sleeper = parts_.sleeper;
    const auto interval = parts_.syncInterval;
    AppStore* store = store_;
    while (!token.stop_requested()) {
        // A pass that finds the store busy returns at once: skipped, not queued.
        if (store->session())
            co_await store->refresh(true, token);
        if (!self)
            co_return;
        co_await sleeper(interval, token); // throws on cancellation: the loop ends
    }
}

void MenuBarController::applicationWillTerminate() {
    const std::shared_ptr<Job> jobs[] = {sessionRestorationTask_, automaticSyncTask_, signInTask_};
    for (const auto& job : jobs)
        if (job)
            job->cancel();
    // The main loop has stopped by now: give the cancelled tasks a bounded turn of
    // their own so that they abort their requests and unwind, instead of being
    // abandoned mid-await.
    const auto running = [&jobs] {
        return std::any_of(std::begin(jobs), std::end(jobs),
                           [](const auto& job) { return job && !job->isFinished(); });
    };
    if (running()) {
        QEventLoop unwind;
        QTimer::singleShot(2000, &unwind, &QEventLoop::quit);
        for (const auto& job : jobs)
            if (job)
                connect(job.get(), &Job::finished, &unwind, [&unwind, &running] {
                    if (!running())
                        unwind.quit();
                });
        unwind.exec();
    }
    if (TelemetryClient* client = store_->analytics()->client())
        client->flush();
}

void MenuBarController::clicked(QSystemTrayIcon::ActivationReason reason,
                                Qt::KeyboardModifiers modifiers) {
    if (reason == QSystemTrayIcon::Context ||
        (reason == QSystemTrayIcon::Trigger && modifiers.testFlag(Qt::ControlModifier))) {
        popUpMenu(QCursor::pos());
        return;
    }
    if (reason == QSystemTrayIcon::Trigger)
        leftClick(QCursor::pos());
}

void MenuBarController::popUpMenu(const QPoint& at) {
    if (menu_->isVisible())
        return;
    menu_->popup(at);
}

void MenuBarController::leftClick(std::optional<QPoint> pointer) {
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
        showLeaderboard(currentAnchor(pointer));
    } else {
        panel_->orderOut();
    }
}

void MenuBarController::showPanel() {
    if (!panel_)
        return;
    showLeaderboard(currentAnchor(std::nullopt));
}

void MenuBarController::togglePanel() {
    if (!panel_)
        return;
    if (panel_->isVisible())
        panel_->orderOut();
    else
        showPanel();
}

QRect MenuBarController::panelAnchor(std::optional<QRect> trayGeometry,
                                     std::optional<QPoint> pointer, const QRect& availableArea) {
    if (trayGeometry && trayGeometry->isValid() && !trayGeometry->isEmpty())
        return *trayGeometry;
    if (pointer)
        return QRect(*pointer, QSize(0, 0));
    return QRect(QPoint(availableArea.x() + availableArea.width(), availableArea.y()), QSize(0, 0));
}

QRect MenuBarController::currentAnchor(std::optional<QPoint> pointer) const {
    std::optional<QRect> tray;
    if (statusItem_)
        tray = statusItem_->geometry();
    QRect available;
    if (QScreen* screen = QGuiApplication::primaryScreen())
        available = screen->availableGeometry();
    return panelAnchor(tray, pointer, available);
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
    signInTask_ = Job::start([this](std::stop_token token) { return runSignIn(token); });
}

QCoro::Task<void> MenuBarController::runSignIn(std::stop_token token) {
    QPointer<MenuBarController> self(this);
    AppStore* store = store_;
    // A click during launch waits for the saved session before signing in anew.
    if (auto restoration = sessionRestorationTask_)
        co_await restoration->wait();
    if (self && !store->session() && !token.stop_requested())
        co_await store->loginWithGitHub(token);
    if (!self)
        co_return;
    if (store->session()) {
        showLeaderboard(currentAnchor(std::nullopt));
    } else if (const std::optional<QString> message = store->error()) {
        store->setError(std::nullopt);
        showAlert(QStringLiteral("Could not sign in with GitHub"), *message);
    }
    isSigningIn_ = false;
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
    if (parts_.writeClipboard && parts_.writeClipboard(url.toString()))
        store->analytics()->capture(Analytics::Event::referralLinkCopied);
}

void MenuBarController::logout() {
    closePanel();
    AppStore* store = store_;
    Job::start([store](std::stop_token token) { return store->logout(token); });
}

void MenuBarController::quit() {
    if (parts_.quitApplication)
        parts_.quitApplication();
}

void MenuBarController::rebuildMenu(QMenu* menu) {
    closePanel();
    menu->clear();
    menu->setToolTipsVisible(true);
    const bool signedInIdle = store_->session().has_value() && !store_->busy();

    QAction* refer = menu->addAction(themed("insert-link"), QStringLiteral("Copy referral link"));
    refer->setToolTip(QStringLiteral("Copy your invite link to the clipboard"));
    refer->setEnabled(signedInIdle);
    connect(refer, &QAction::triggered, this, &MenuBarController::referFriend);

    menu->addSeparator();
    if (parts_.updater) {
        QAction* update = menu->addAction(QStringLiteral("Check for Updates\u2026"));
        update->setEnabled(parts_.updater->canCheckForUpdates &&
                           parts_.updater->canCheckForUpdates());
        connect(update, &QAction::triggered, this, [this] {
            if (parts_.updater && parts_.updater->checkForUpdates)
                parts_.updater->checkForUpdates();
        });
        menu->addSeparator();
    }

    QAction* signOut = menu->addAction(themed("system-log-out"), QStringLiteral("Sign out"));
    signOut->setEnabled(signedInIdle);
    connect(signOut, &QAction::triggered, this, &MenuBarController::logout);

    QAction* quitAction = menu->addAction(themed("application-exit"), QStringLiteral("Quit Varno"));
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setEnabled(true);
    connect(quitAction, &QAction::triggered, this, &MenuBarController::quit);
}

void MenuBarController::showAlert(const QString& message, const QString& detail) {
    auto* alert =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("Varno"), message, QMessageBox::Ok);
    alert->setInformativeText(detail);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    // Never block the event loop: the sync loop and the panel keep working.
    alert->open();
    alert->raise();
    alert->activateWindow();
    emit alertShown(alert);
}

} // namespace varno
