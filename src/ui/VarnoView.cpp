#include "ui/VarnoView.h"

#include "async/Job.h"
#include "store/AppStore.h"
#include "ui/Alert.h"
#include "ui/AvatarLoader.h"
#include "ui/FriendsView.h"
#include "ui/GlassSheet.h"
#include "ui/LeaderboardRow.h"
#include "ui/ProgressSpinner.h"
#include "ui/RowList.h"
#include "ui/Theme.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
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
            new AvatarLoader(AvatarLoader::networkFetch(new QNetworkAccessManager(this)), this);
    setFont(theme::bodyFont());
    setStyleSheet(theme::styleSheet());
    setAccessibleName(QStringLiteral("Varno"));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    buildSignedOutCard();
    buildSignedInCard();
    root->addWidget(signedOut_, 0, Qt::AlignHCenter);
    root->addWidget(signedIn_, 0, Qt::AlignHCenter);

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
                setShowFriends(false); // nothing to show once signed out
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
    signedOut_ = new QWidget(this);
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
    signedIn_ = new QWidget(this);
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

    list_ = new QScrollArea(signedIn_);
    list_->setAccessibleName(QStringLiteral("Leaderboard"));
    list_->setWidgetResizable(true);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->viewport()->setAutoFillBackground(false);
    rows_ = new RowList(list_, theme::rowSpacing);
    rows_->content()->setAccessibleName(QStringLiteral("Leaderboard"));
    connect(rows_, &RowList::released, this, &VarnoView::render);
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
    const bool hasDashboard = store_->dashboard().has_value();
    const QList<LeaderboardEntry> entries =
        hasDashboard ? store_->visibleLeaderboard() : QList<LeaderboardEntry>();
    loading_->setVisible(!hasDashboard);
    empty_->setVisible(hasDashboard && entries.isEmpty());
    list_->setVisible(!entries.isEmpty());
    if (entries.isEmpty())
        return;

    // Rows are kept by id and updated in place: a sync that changes a total does not
    // rebuild the list, scroll it back or reload pictures.
    QStringList keys;
    QHash<QString, LeaderboardEntry> byKey;
    for (const LeaderboardEntry& entry : entries) {
        QString key = entry.id;
        for (int n = 2; byKey.contains(key); ++n) // the server's ids should be unique
            key = entry.id + QStringLiteral("\n%1").arg(n);
        keys.append(key);
        byKey.insert(key, entry);
    }
    rows_->apply(
        keys, [&](const QString& key) { return new LeaderboardRow(byKey[key], 0, avatars_); },
        [&](QWidget* row, const QString& key, int position) {
            static_cast<LeaderboardRow*>(row)->setEntry(byKey[key], position);
        });
    const int count = rows_->count();
    // A scroll bar takes its room out of the trailing margin, so the totals stay
    // under their heading.
    const int trailing = theme::trailingMargin - theme::rowInset;
    const bool scrolls = count > theme::visibleRowLimit;
    rows_->layout()->setContentsMargins(0, 0, scrolls ? trailing - theme::scrollBarWidth : trailing,
                                        0);
    list_->setFixedHeight(theme::leaderboardListHeight(count));
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
    if (showFriends_ == show)
        return;
    showFriends_ = show;
    syncSheet(isVisible());
}

void VarnoView::syncSheet(bool onScreen) {
    const bool wanted = showFriends_ && onScreen && store_ && store_->session();
    if (wanted) {
        if (!sheet_) {
            auto* friends = new FriendsView(store_, [this] { setShowFriends(false); });
            sheet_ = new GlassSheet(friends, this);
            sheet_->setWindowTitle(QStringLiteral("Friends"));
            sheet_->setAccessibleName(QStringLiteral("Friends"));
            sheet_->addAction(quitShortcut_);
            // Escape, or the window being closed, ends the sheet like "Done".
            connect(sheet_, &QDialog::finished, this, [this] { setShowFriends(false); });
        }
        if (!sheet_->isVisible())
            sheet_->present();
        return;
    }
    if (sheet_ && sheet_->isVisible())
        sheet_->hide();
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
    // Over the friends sheet when that is up, so that it is not hidden behind it.
    QWidget* owner = (sheet_ && sheet_->isVisible()) ? static_cast<QWidget*>(sheet_) : this;
    auto* alert = new Alert(error->isEmpty() ? QStringLiteral("Please try again.") : *error,
                            QString(), owner);
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
    popUpContextMenu(event->globalPos());
    event->accept();
}

void VarnoView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
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
