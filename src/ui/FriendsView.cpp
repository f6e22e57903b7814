#include "ui/FriendsView.h"

#include "analytics/Analytics.h"
#include "async/Job.h"
#include "store/AppStore.h"
#include "ui/AccessibleRole.h"
#include "ui/ElidedLabel.h"
#include "ui/ProgressSpinner.h"
#include "ui/RowList.h"
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

    rows_ = new RowList(scroll_, 10);
    rows_->content()->setAccessibleName(QStringLiteral("Friends and requests"));
    connect(rows_, &RowList::released, this, &FriendsView::render);

    if (store_) {
        connect(store_, &AppStore::dashboardChanged, this, &FriendsView::render);
        connect(store_, &AppStore::sessionChanged, this, &FriendsView::render);
        connect(store_, &AppStore::hiddenFriendsChanged, this, &FriendsView::render);
        connect(store_, &AppStore::busyChanged, this, &FriendsView::render);
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
    renderList();
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

namespace {
// Row keys: a friend, or a request in one direction (a request that changed direction
// is another row).
const QString friendKey = QStringLiteral("friend:");
const QString incomingKey = QStringLiteral("incoming:");
const QString outgoingKey = QStringLiteral("outgoing:");
} // namespace

void FriendsView::renderList() {
    const std::optional<Dashboard>* dashboard = store_ ? &store_->dashboard() : nullptr;
    if (!dashboard || !dashboard->has_value()) {
        spinner_->show();
        emptyLabel_->hide();
        scroll_->hide();
        return;
    }
    spinner_->hide();

    // Friends first, then the open requests, each in the server's order.
    QStringList keys;
    QHash<QString, QString> names;
    for (const LeaderboardEntry& entry : (*dashboard)->leaderboard) {
        const QString key = friendKey + entry.id;
        if (!entry.isMe && !names.contains(key)) {
            keys.append(key);
            names.insert(key, entry.name);
        }
    }
    for (const FriendRequest& request : (*dashboard)->requests) {
        const QString key = (request.incoming ? incomingKey : outgoingKey) + request.id;
        if (!request.accepted && !names.contains(key)) {
            keys.append(key);
            names.insert(key, request.name);
        }
    }
    const bool busy = store_->busy();
    const auto make = [&](const QString& key) { return makeRow(key, names.value(key)); };
    const auto update = [&](QWidget* row, const QString& key, int) {
        const QString name = names.value(key);
        row->findChild<ElidedLabel*>()->setText(name);
        row->setAccessibleName(name);
        // A screen reader that reads a button alone still says whose it is.
        for (QPushButton* button : row->findChildren<QPushButton*>())
            button->setAccessibleDescription(name);
        if (key.startsWith(friendKey)) {
            const bool hidden = store_->isFriendHidden(key.mid(friendKey.size()));
            showToggle(row->findChild<QPushButton*>(), hidden);
        } else {
            // Disabled while another answer runs, so that two never overlap.
            row->setEnabled(!busy);
        }
    };
    // The last rows gone while the pointer is over them wait like any other.
    if (keys.isEmpty() && !(rows_->count() > 0 && rows_->pointerInside())) {
        rows_->apply({}, make, update);
        emptyLabel_->show();
        scroll_->hide();
        return;
    }
    emptyLabel_->hide();
    scroll_->show();
    rows_->apply(keys, make, update);

    // The list grows with its rows up to 240, then scrolls; the scroll bar gets room
    // of its own so that it never covers the buttons. Measured in place, with the
    // style sheet applied.
    QVBoxLayout* rows = rows_->layout();
    rows_->content()->ensurePolished();
    rows->setContentsMargins(0, 0, 0, 0);
    rows->invalidate();
    const int natural = rows->sizeHint().height();
    const bool scrolls = natural > theme::friendsListMaxHeight;
    rows->setContentsMargins(0, 0, scrolls ? theme::scrollBarWidth + 6 : 0, 0);
    scroll_->setFixedHeight(std::min(natural, theme::friendsListMaxHeight));
}

std::pair<QWidget*, QHBoxLayout*> FriendsView::makeNamedRow(const QString& name) {
    auto* row = new QWidget();
    AccessibleRole::set(row, QAccessible::ListItem);
    row->setAccessibleName(name);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* label = new ElidedLabel(name, row);
    label->setFont(theme::bodyFont());
    layout->addWidget(label, 1);
    return {row, layout};
}

QWidget* FriendsView::makeRow(const QString& key, const QString& name) {
    if (key.startsWith(friendKey))
        return makeFriendRow(key.mid(friendKey.size()), name);
    const bool incoming = key.startsWith(incomingKey);
    return makeRequestRow(key, key.mid((incoming ? incomingKey : outgoingKey).size()), name,
                          incoming);
}

QWidget* FriendsView::makeFriendRow(const QString& id, const QString& name) {
    auto [row, layout] = makeNamedRow(name);
    auto* toggle = new QPushButton(row);
    toggle->setAutoDefault(false);
    connect(toggle, &QPushButton::clicked, this, [this, id] {
        if (store_)
            store_->setFriendHidden(id, !store_->isFriendHidden(id));
    });
    layout->addWidget(toggle);
    return row;
}

void FriendsView::showToggle(QPushButton* toggle, bool hidden) {
    const QString hide = QStringLiteral("Hide friend"), show = QStringLiteral("Show friend");
    if (toggle->minimumWidth() == 0) {
        // As wide as its wider text, so that it keeps its place when it flips. Measured
        // once it is in the sheet, with the sheet's style.
        int width = 0;
        for (const QString& text : {hide, show}) {
            toggle->setText(text);
            width = std::max(width, toggle->sizeHint().width());
        }
        toggle->setMinimumWidth(width);
    }
    toggle->setText(hidden ? show : hide);
}

QWidget* FriendsView::makeRequestRow(const QString& key, const QString& id, const QString& name,
                                     bool incoming) {
    auto [row, layout] = makeNamedRow(name);
    auto addButton = [&](const QString& text, bool accept, bool prominent) {
        auto* button = new QPushButton(text, row);
        button->setAutoDefault(false);
        if (prominent)
            button->setProperty("prominent", true);
        connect(button, &QPushButton::clicked, this, [this, key, id, accept] {
            // Answered, the request leaves the list even with the pointer over it.
            rows_->allowRemoval(key);
            answer(id, accept);
        });
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
