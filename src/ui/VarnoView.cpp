// SPDX-License-Identifier: MIT
#include "ui/VarnoView.h"

#include "async/Job.h"
#include "store/AppStore.h"
#include "ui/Alert.h"
#include "ui/AvatarLoader.h"
#include "ui/FocusRing.h"
#include "ui/FriendsView.h"
#include "ui/GlassSheet.h"
#include "ui/LeaderboardList.h"
#include "ui/ProgressSpinner.h"
#include "ui/Theme.h"
#include "ui/UsageView.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace varno {

namespace {
// The bodies of the view's tasks take the store as a parameter, so that nothing they
// use dangles once the view is gone.
QCoro::Task<void> refreshWithoutUpload(QPointer<AppStore> store, std::stop_token token) {
    if (store)
        co_await store->refresh(false, token);
}
QCoro::Task<void> syncWithUpload(QPointer<AppStore> store, std::stop_token token) {
    if (store)
        co_await store->refresh(true, token);
}
QCoro::Task<void> logOut(QPointer<AppStore> store, std::stop_token token) {
    if (store)
        co_await store->logout(token);
}
QCoro::Task<void> logIn(QPointer<AppStore> store, std::stop_token token) {
    if (store)
        co_await store->loginWithGitHub(token);
}
} // namespace

VarnoView::VarnoView(AppStore* store, VarnoViewActions actions, AvatarLoader* avatars,
                     QWidget* parent)
    : QWidget(parent), store_(store), actions_(std::move(actions)), avatars_(avatars) {
    if (!avatars_)
        avatars_ =
            new AvatarLoader(AvatarLoader::networkFetch(), this);
    setFont(theme::bodyFont());
    setStyleSheet(theme::styleSheet());
    setAccessibleName(QStringLiteral("Varno"));
    FocusRing::install();

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    main_ = new QWidget(this);
    // A sheet hides what it covers from the keyboard and screen readers; the panel
    // keeps its size meanwhile.
    QSizePolicy policy = main_->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    main_->setSizePolicy(policy);
    auto* cards = new QVBoxLayout(main_);
    cards->setContentsMargins(0, 0, 0, 0);
    cards->setSpacing(0);
    buildSignedOutCard();
    buildSignedInCard();
    cards->addWidget(signedOut_, 0, Qt::AlignHCenter);
    cards->addWidget(signedIn_, 0, Qt::AlignHCenter);
    root->addWidget(main_, 0, Qt::AlignTop);

    // Ctrl+Q works whenever the panel, its sheet or its alert has the keyboard, not
    // only in the menu.
    quitShortcut_ = new QAction(this);
    quitShortcut_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitShortcut_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(quitShortcut_, &QAction::triggered, this, &VarnoView::quit);
    addAction(quitShortcut_);

    if (store_) {
        connect(store_, &AppStore::sessionChanged, this, [this] {
            if (!store_->session())
                setSheet(Sheet::none); // nothing to show once signed out
            render();
            updateRefreshTask();
        });
        connect(store_, &AppStore::busyChanged, this, &VarnoView::render);
        connect(store_, &AppStore::waitingForBrowserChanged, this, &VarnoView::render);
        connect(store_, &AppStore::dashboardChanged, this, &VarnoView::render);
        connect(store_, &AppStore::hiddenFriendsChanged, this, &VarnoView::render);
        connect(store_, &AppStore::errorChanged, this, [this] { syncAlert(isVisible()); });
    }
    render();
    updateRefreshTask();
}

VarnoView::~VarnoView() {
    if (refreshJob_)
        refreshJob_->cancel();
}

void VarnoView::buildSignedOutCard() {
    signedOut_ = new QWidget(main_);
    signedOut_->setFixedWidth(theme::signedOutWidth);
    auto* layout = new QVBoxLayout(signedOut_);
    layout->setContentsMargins(theme::cardPadding, theme::cardPadding, theme::cardPadding,
                               theme::cardPadding);
    layout->setSpacing(12);

    auto* title = new QLabel(QStringLiteral("Leaderboard"), signedOut_);
    title->setFont(theme::headlineFont());
    title->setAlignment(Qt::AlignHCenter);
    layout->addWidget(title, 0, Qt::AlignHCenter);

    restoringRow_ = new QWidget(signedOut_);
    auto* restoringLayout = new QHBoxLayout(restoringRow_);
    restoringLayout->setContentsMargins(0, 0, 0, 0);
    restoringLayout->setSpacing(8);
    restoring_ = new ProgressSpinner(ProgressSpinner::Size::Small, restoringRow_);
    restoringLayout->addWidget(restoring_);
    auto* restoringLabel = new QLabel(QStringLiteral("Restoring your sign-in…"), restoringRow_);
    restoringLayout->addWidget(restoringLabel);
    restoringRow_->setAccessibleName(QStringLiteral("Restoring your sign-in…"));
    layout->addWidget(restoringRow_, 0, Qt::AlignHCenter);

    // The browser sign-in has no sheet of its own to close here: this ends the wait.
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), signedOut_);
    connect(cancelButton_, &QPushButton::clicked, this, &VarnoView::cancelSignIn);
    layout->addWidget(cancelButton_, 0, Qt::AlignHCenter);

    signInButton_ = new QPushButton(QStringLiteral("Sign in with GitHub"), signedOut_);
    signInButton_->setProperty("prominent", true);
    connect(signInButton_, &QPushButton::clicked, this, &VarnoView::signIn);
    layout->addWidget(signInButton_, 0, Qt::AlignHCenter);
}

void VarnoView::buildSignedInCard() {
    signedIn_ = new QWidget(main_);
    signedIn_->setFixedWidth(theme::signedInWidth);
    auto* layout = new QVBoxLayout(signedIn_);
    layout->setContentsMargins(theme::cardPadding, theme::cardPadding, theme::cardPadding,
                               theme::cardPadding);
    layout->setSpacing(10);

    // The column heading keeps the list's trailing margin, so that it sits over the
    // totals.
    auto* header = new QHBoxLayout();
    header->setContentsMargins(0, 0, theme::trailingMargin, 0);
    auto* title = new QLabel(QStringLiteral("Leaderboard"), signedIn_);
    title->setFont(theme::headlineFont());
    header->addWidget(title);
    header->addStretch(1);
    auto* tokens = new QLabel(QStringLiteral("Tokens"), signedIn_);
    theme::useSecondaryColour(tokens);
    header->addWidget(tokens);
    layout->addLayout(header);

    layout->addWidget(theme::makeDivider(signedIn_));

    loading_ = new QWidget(signedIn_);
    auto* loadingLayout = new QVBoxLayout(loading_);
    loadingLayout->setContentsMargins(0, 8, 0, 8);
    loadingLayout->addWidget(new ProgressSpinner(ProgressSpinner::Size::Mini, loading_), 0,
                             Qt::AlignHCenter);
    loading_->setAccessibleName(QStringLiteral("Loading"));
    layout->addWidget(loading_);

    empty_ = new QLabel(QStringLiteral("No usage yet"), signedIn_);
    theme::useSecondaryColour(empty_);
    layout->addWidget(empty_);

    list_ = new LeaderboardList(avatars_, signedIn_);
    layout->addWidget(list_);
}

void VarnoView::render() {
    const bool signedIn = store_ && store_->session().has_value();
    signedOut_->setVisible(!signedIn);
    signedIn_->setVisible(signedIn);
    if (!signedIn) {
        const bool busy = store_ && store_->busy();
        restoringRow_->setVisible(busy);
        cancelButton_->setVisible(busy && store_->waitingForBrowser());
        signInButton_->setVisible(!busy);
        return;
    }
    renderLeaderboard();
}

void VarnoView::renderLeaderboard() {
    // Off screen nothing is shown, so nothing is done: the panel catches up when it
    // opens, however many loads came meanwhile.
    if (!isVisible()) {
        leaderboardStale_ = true;
        return;
    }
    leaderboardStale_ = false;
    const bool hasDashboard = store_->dashboard().has_value();
    const QList<LeaderboardEntry> entries =
        hasDashboard ? store_->visibleLeaderboard() : QList<LeaderboardEntry>();
    loading_->setVisible(!hasDashboard);
    empty_->setVisible(hasDashboard && entries.isEmpty());
    list_->setVisible(!entries.isEmpty());
    if (entries.isEmpty())
        return;

    // Rows are kept by id and moved, added or removed: a sync does not rebuild the
    // list, and the row being looked at keeps its place.
    list_->setEntries(entries);
}

void VarnoView::setRefreshEnabled(bool enabled) {
    if (refreshEnabled_ == enabled)
        return;
    refreshEnabled_ = enabled;
    updateRefreshTask();
}

void VarnoView::updateRefreshTask() {
    RefreshState key;
    if (store_ && store_->session())
        key.userID = store_->session()->user.id;
    key.enabled = refreshEnabled_;
    if (refreshKey_ && *refreshKey_ == key)
        return;
    refreshKey_ = key;
    if (refreshJob_) {
        refreshJob_->cancel();
        refreshJob_.reset();
    }
    // Opening the panel reloads usage and the dashboard without uploading; closing it
    // cancels an unfinished refresh.
    if (key.enabled && key.userID)
        refreshJob_ = Job::start(
            [store = store_](std::stop_token token) { return refreshWithoutUpload(store, token); });
}

void VarnoView::setShowFriends(bool show) {
    if (show)
        setSheet(Sheet::friends);
    else if (sheet_ == Sheet::friends)
        setSheet(Sheet::none);
}

void VarnoView::setSheet(Sheet sheet) {
    if (sheet_ == sheet)
        return;
    sheet_ = sheet;
    syncSheet(isVisible());
}

GlassSheet* VarnoView::sheetFor(Sheet sheet) {
    switch (sheet) {
    case Sheet::friends:
        if (!friendsSheet_)
            friendsSheet_ = makeSheet(
                sheet, new FriendsView(store_, [this] { setShowFriends(false); }), "Friends");
        return friendsSheet_;
    case Sheet::usage:
        if (!usageSheet_)
            usageSheet_ = makeSheet(sheet, new UsageView(store_, [this] { setSheet(Sheet::none); }),
                                    "Your Usage");
        return usageSheet_;
    case Sheet::none:
        break;
    }
    return nullptr;
}

GlassSheet* VarnoView::makeSheet(Sheet sheet, QWidget* content, const QString& title) {
    auto* made = new GlassSheet(content, title, this);
    // Escape ends a sheet like its own "Done".
    connect(made, &GlassSheet::finished, this, [this, sheet] {
        if (sheet_ == sheet)
            setSheet(Sheet::none);
    });
    return made;
}

GlassSheet* VarnoView::shownSheet() const {
    for (GlassSheet* sheet : findChildren<GlassSheet*>(Qt::FindDirectChildrenOnly))
        if (!sheet->isHidden())
            return sheet;
    return nullptr;
}

void VarnoView::syncSheet(bool onScreen) {
    if (!store_ || !store_->session())
        sheet_ = Sheet::none; // nothing to show once signed out
    GlassSheet* wanted = onScreen ? sheetFor(sheet_) : nullptr;
    GlassSheet* shown = shownSheet();
    if (!wanted)
        main_->show(); // first, so that the focus can go back into it
    if (shown && shown != wanted) {
        // Closed by the view rather than by its own Escape: no second round.
        const QSignalBlocker quiet(shown);
        shown->dismiss();
    }
    if (wanted) {
        if (wanted->isHidden())
            wanted->present();
        main_->hide();
        // The panel's window says what is in front, for screen readers and window lists.
        if (windowTitle_.isEmpty())
            windowTitle_ = window()->windowTitle();
        window()->setWindowTitle(windowTitle_ + QStringLiteral(" — ") + wanted->title());
    } else if (!windowTitle_.isEmpty()) {
        window()->setWindowTitle(windowTitle_);
        windowTitle_.clear();
    }
    updateGeometry();
}

void VarnoView::syncAlert(bool onScreen) {
    const std::optional<QString> error = store_ ? store_->error() : std::nullopt;
    if (!error || !onScreen) {
        // Gone, or the panel is off screen: the alert comes back with the panel while
        // the error stands.
        closeAlert();
        return;
    }
    if (alert_) {
        alert_->setText(*error);
        return;
    }
    auto* alert =
        new Alert(error->isEmpty() ? QStringLiteral("Please try again.") : *error, QString(), this);
    alert->addAction(quitShortcut_);
    // "OK", Escape or closing the window: the error has been seen.
    connect(alert, &QDialog::finished, this, [this] {
        alert_ = nullptr;
        if (store_ && store_->error())
            store_->setError(std::nullopt);
    });
    alert_ = alert;
    alert->present();
}

void VarnoView::closeAlert() {
    if (!alert_)
        return;
    QMessageBox* alert = alert_;
    alert_ = nullptr;
    alert->disconnect(this);
    alert->hide();
    alert->deleteLater();
}

QMenu* VarnoView::popUpContextMenu(const QPoint& globalPosition) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setAccessibleName(QStringLiteral("Varno menu"));
    if (store_ && store_->session()) {
        const bool busy = store_->busy();
        QAction* sync = menu->addAction(QStringLiteral("Sync usage"));
        sync->setEnabled(!busy);
        connect(sync, &QAction::triggered, this, &VarnoView::syncUsage);
        QAction* friends = menu->addAction(QStringLiteral("Friends"));
        connect(friends, &QAction::triggered, this, [this] { setShowFriends(true); });
        QAction* usage = menu->addAction(QStringLiteral("Your Usage"));
        connect(usage, &QAction::triggered, this, [this] { setSheet(Sheet::usage); });
        menu->addSeparator();
        QAction* signOut = menu->addAction(QStringLiteral("Sign out"));
        signOut->setEnabled(!busy);
        connect(signOut, &QAction::triggered, this, &VarnoView::signOut);
        menu->addSeparator();
    }
    QAction* quitAction = menu->addAction(QStringLiteral("Quit Varno"));
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quitAction, &QAction::triggered, this, &VarnoView::quit);
    menu->popup(globalPosition);
    return menu;
}

void VarnoView::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    // One menu at a time (a platform may send its own event for the Menu key too).
    if (qobject_cast<QMenu*>(QApplication::activePopupWidget()))
        return;
    if (event->reason() != QContextMenuEvent::Keyboard) {
        popUpContextMenu(event->globalPos());
        return;
    }
    // From the keyboard: at the current row or the focused control (or the panel's
    // top), not wherever the pointer happens to be, with its first item chosen.
    QWidget* focus = QApplication::focusWidget();
    QPoint at = mapToGlobal(QPoint(24, 24));
    if (focus == list_ && list_->currentIndex().isValid())
        at = list_->viewport()->mapToGlobal(list_->visualRect(list_->currentIndex()).center());
    else if (focus && isAncestorOf(focus))
        at = focus->mapToGlobal(focus->rect().center());
    QMenu* menu = popUpContextMenu(at);
    for (QAction* action : menu->actions()) {
        if (action->isEnabled() && !action->isSeparator()) {
            menu->setActiveAction(action);
            break;
        }
    }
}

void VarnoView::keyPressEvent(QKeyEvent* event) {
    // Shift+F10 and the Menu key open the panel's menu: it is the keyboard's only way
    // to Friends, Your Usage, Sync usage and Sign out.
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier) ||
        (event->key() == Qt::Key_Menu && modifiers == Qt::NoModifier)) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QCursor::pos(),
                               event->modifiers());
        contextMenuEvent(&menu);
        return;
    }
    QWidget::keyPressEvent(event);
}

void VarnoView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    for (GlassSheet* sheet : findChildren<GlassSheet*>(Qt::FindDirectChildrenOnly))
        sheet->setGeometry(rect());
}

QSize VarnoView::sizeHint() const {
    const QSize own = QWidget::sizeHint();
    const GlassSheet* sheet = shownSheet();
    return sheet ? own.expandedTo(sheet->sizeHint()) : own;
}

QSize VarnoView::minimumSizeHint() const {
    const QSize own = QWidget::minimumSizeHint();
    const GlassSheet* sheet = shownSheet();
    return sheet ? own.expandedTo(sheet->minimumSizeHint()) : own;
}

void VarnoView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (leaderboardStale_)
        render();
    // Each opening starts at the top of the leaderboard.
    list_->scrollToTop();
    syncSheet(true);
    syncAlert(true);
}

void VarnoView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    syncAlert(false);
    syncSheet(false);
}

void VarnoView::signIn() {
    if (actions_.signIn) {
        actions_.signIn();
        return;
    }
    if (signInJob_ && !signInJob_->isFinished())
        return;
    signInJob_ =
        Job::start([store = store_](std::stop_token token) { return logIn(store, token); });
}

void VarnoView::cancelSignIn() {
    if (actions_.cancelSignIn)
        actions_.cancelSignIn();
    else if (signInJob_)
        signInJob_->cancel();
}

void VarnoView::syncUsage() {
    Job::start([store = store_](std::stop_token token) { return syncWithUpload(store, token); });
}

void VarnoView::signOut() {
    Job::start([store = store_](std::stop_token token) { return logOut(store, token); });
}

void VarnoView::quit() {
    if (actions_.quit)
        actions_.quit();
    else
        QCoreApplication::quit();
}

} // namespace varno
