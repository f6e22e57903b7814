#include "ui/FriendsView.h"

#include "analytics/Analytics.h"
#include "async/Job.h"
#include "store/AppStore.h"
#include "ui/ElidedLabel.h"
#include "ui/ProgressSpinner.h"
#include "ui/Theme.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace varno {

FriendsView::FriendsView(AppStore* store, std::function<void()> onDone, QWidget* parent)
    : QWidget(parent), store_(store), onDone_(std::move(onDone)) {
    setFixedWidth(theme::friendsWidth);
    setAccessibleName(QStringLiteral("Friends"));
    setFont(theme::bodyFont());
    setStyleSheet(theme::styleSheet());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(theme::friendsPadding, theme::friendsPadding, theme::friendsPadding,
                               theme::friendsPadding);
    layout->setSpacing(12);

    auto* header = new QHBoxLayout();
    header->setSpacing(8);
    auto* title = new QLabel(QStringLiteral("Friends"), this);
    title->setFont(theme::headlineFont());
    header->addWidget(title);
    header->addStretch(1);
    inviteButton_ = new QPushButton(this);
    inviteButton_->setIcon(theme::linkIcon(theme::text()));
    inviteButton_->setAutoDefault(false);
    connect(inviteButton_, &QPushButton::clicked, this, &FriendsView::copyInviteLink);
    header->addWidget(inviteButton_);
    doneButton_ = new QPushButton(QStringLiteral("Done"), this);
    doneButton_->setDefault(true);
    connect(doneButton_, &QPushButton::clicked, this, [this] {
        if (onDone_)
            onDone_();
    });
    header->addWidget(doneButton_);
    layout->addLayout(header);

    layout->addWidget(theme::makeDivider(this));

    spinner_ = new ProgressSpinner(ProgressSpinner::Size::Small, this);
    layout->addWidget(spinner_, 0, Qt::AlignHCenter);

    emptyLabel_ = new QLabel(QStringLiteral("No friends yet"), this);
    theme::useSecondaryColour(emptyLabel_);
    layout->addWidget(emptyLabel_);

    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->viewport()->setAutoFillBackground(false);
    layout->addWidget(scroll_);

    if (store_) {
        connect(store_, &AppStore::dashboardChanged, this, &FriendsView::render);
        connect(store_, &AppStore::sessionChanged, this, &FriendsView::render);
        connect(store_, &AppStore::hiddenFriendsChanged, this, &FriendsView::render);
        connect(store_, &AppStore::busyChanged, this, [this] {
            const bool busy = store_ && store_->busy();
            for (QWidget* row : std::as_const(requestRows_))
                row->setEnabled(!busy);
        });
    }
    render();
}

FriendsView::~FriendsView() = default;

void FriendsView::showEvent(QShowEvent* event) {
    // Each time the sheet comes up the invite button starts over.
    inviteCopied_ = false;
    renderHeader();
    QWidget::showEvent(event);
}

void FriendsView::render() {
    renderHeader();
    rebuildList();
}

void FriendsView::renderHeader() {
    inviteButton_->setText(inviteCopied_ ? QStringLiteral("Copied")
                                         : QStringLiteral("Copy invite link"));
    inviteButton_->setEnabled(store_ && store_->referralURL().has_value());
}

void FriendsView::copyInviteLink() {
    if (!store_)
        return;
    const std::optional<QUrl> url = store_->referralURL();
    if (!url)
        return;
    const QString text = url->toString(QUrl::FullyEncoded);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
    // Only a link that reads back unchanged counts as copied.
    inviteCopied_ = clipboard->text() == text;
    if (inviteCopied_ && store_->analytics())
        store_->analytics()->capture(Analytics::Event::referralLinkCopied);
    renderHeader();
}

void FriendsView::rebuildList() {
    // Taken out first: setWidget() would delete the old rows at once, and one of them
    // may hold the button whose click led here.
    theme::retire(scroll_->takeWidget());
    listContent_ = nullptr;
    requestRows_.clear();

    const std::optional<Dashboard>* dashboard = store_ ? &store_->dashboard() : nullptr;
    if (!dashboard || !dashboard->has_value()) {
        spinner_->show();
        emptyLabel_->hide();
        scroll_->hide();
        return;
    }
    spinner_->hide();

    QList<const LeaderboardEntry*> friends;
    for (const LeaderboardEntry& entry : (*dashboard)->leaderboard)
        if (!entry.isMe)
            friends.append(&entry);
    QList<const FriendRequest*> requests;
    for (const FriendRequest& request : (*dashboard)->requests)
        if (!request.accepted)
            requests.append(&request);

    if (friends.isEmpty() && requests.isEmpty()) {
        emptyLabel_->show();
        scroll_->hide();
        return;
    }
    emptyLabel_->hide();

    listContent_ = new QWidget(scroll_);
    auto* rows = new QVBoxLayout(listContent_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(10);
    for (const LeaderboardEntry* entry : friends)
        rows->addWidget(makeFriendRow(entry->id, entry->name));
    for (const FriendRequest* request : requests)
        rows->addWidget(makeRequestRow(request->id, request->name, request->incoming));

    // The list grows with its rows up to 240, then scrolls; the scroll bar gets room
    // of its own so that it never covers the buttons. Measured in place, with the
    // style sheet applied.
    scroll_->setWidget(listContent_);
    listContent_->ensurePolished();
    rows->invalidate();
    const int natural = rows->sizeHint().height();
    const bool scrolls = natural > theme::friendsListMaxHeight;
    rows->setContentsMargins(0, 0, scrolls ? theme::scrollBarWidth + 6 : 0, 0);
    scroll_->setFixedHeight(std::min(natural, theme::friendsListMaxHeight));
    scroll_->show();
}

std::pair<QWidget*, QHBoxLayout*> FriendsView::makeNamedRow(const QString& name) {
    auto* row = new QWidget(listContent_);
    row->setAccessibleName(name);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* label = new ElidedLabel(name, row);
    label->setFont(theme::bodyFont());
    layout->addWidget(label, 1);
    return {row, layout};
}

QWidget* FriendsView::makeFriendRow(const QString& id, const QString& name) {
    auto [row, layout] = makeNamedRow(name);
    const bool hidden = store_->isFriendHidden(id);
    auto* toggle = new QPushButton(
        hidden ? QStringLiteral("Show friend") : QStringLiteral("Hide friend"), row);
    toggle->setAutoDefault(false);
    connect(toggle, &QPushButton::clicked, this, [this, id] {
        if (store_)
            store_->setFriendHidden(id, !store_->isFriendHidden(id));
    });
    layout->addWidget(toggle);
    return row;
}

QWidget* FriendsView::makeRequestRow(const QString& id, const QString& name, bool incoming) {
    auto [row, layout] = makeNamedRow(name);
    auto addButton = [&](const QString& text, bool accept, bool prominent) {
        auto* button = new QPushButton(text, row);
        button->setAutoDefault(false);
        if (prominent)
            button->setProperty("prominent", true);
        connect(button, &QPushButton::clicked, this, [this, id, accept] { answer(id, accept); });
        layout->addWidget(button);
    };
    if (incoming) {
        addButton(QStringLiteral("Accept"), true, true);
        addButton(QStringLiteral("Decline"), false, false);
    } else {
        auto* pending = new QLabel(QStringLiteral("Pending"), row);
        theme::useSecondaryColour(pending);
        layout->addWidget(pending);
        addButton(QStringLiteral("Cancel"), false, false);
    }
    row->setEnabled(!store_->busy());
    requestRows_.append(row);
    return row;
}

namespace {
QCoro::Task<void> answerRequest(QPointer<AppStore> store, QString requestId, bool accept,
                                std::stop_token token) {
    if (store)
        co_await store->updateFriend(requestId, accept, token);
}
} // namespace

void FriendsView::answer(const QString& requestId, bool accept) {
    if (!store_)
        return;
    // The store refuses to start while it is busy, so two answers never overlap; its
    // error, if any, shows in the main view's alert.
    Job::start([store = store_, requestId, accept](std::stop_token token) {
        return answerRequest(store, requestId, accept, token);
    });
}

} // namespace varno
