// SPDX-License-Identifier: MIT
#include "ui/FriendsView.h"

#include "analytics/Analytics.h"
#include "async/Job.h"
#include "model/OutsideText.h"
#include "store/AppStore.h"
#include "ui/AccessibleRole.h"
#include "ui/ElidedLabel.h"
#include "ui/FriendsModel.h"
#include "ui/ProgressSpinner.h"
#include "ui/SheetLayout.h"
#include "ui/Theme.h"
#include "ui/WidgetRowList.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace varno {

namespace {
const QString hideText = QStringLiteral("Hide friend");
const QString showText = QStringLiteral("Show friend");
} // namespace

FriendsView::FriendsView(AppStore* store, std::function<void()> onDone, QWidget* parent)
    : QWidget(parent), store_(store), onDone_(std::move(onDone)) {
    SheetLayout sheet(this, QStringLiteral("Friends"));
    QVBoxLayout* layout = sheet.column();
    QHBoxLayout* header = sheet.header();
    header->addStretch(1);
    inviteButton_ = new QPushButton(this);
    inviteButton_->setIcon(theme::linkIcon(theme::text()));
    connect(inviteButton_, &QPushButton::clicked, this, &FriendsView::copyInviteLink);
    header->addWidget(inviteButton_);
    doneButton_ = sheet.finish([this] {
        if (onDone_)
            onDone_();
    });

    spinner_ = new ProgressSpinner(ProgressSpinner::Size::Small, this);
    layout->addWidget(spinner_, 0, Qt::AlignHCenter);

    emptyLabel_ = new QLabel(QStringLiteral("No friends yet"), this);
    theme::useSecondaryColour(emptyLabel_);
    layout->addWidget(emptyLabel_);

    model_ = new FriendsModel(this);
    connect(model_, &KeyedListModel::applied, this, &FriendsView::showListState);
    list_ = new WidgetRowList(
        model_, [this](int row) { return makeRow(row); },
        [this](QWidget* widget, int row) { updateRow(widget, row); }, this);
    list_->viewport()->setAccessibleName(QStringLiteral("Friends and requests"));
    list_->setMaximumHeight(theme::friendsListMaxHeight);
    // A row is as high as its buttons, measured with the sheet's style.
    QPushButton probe(hideText, this);
    probe.ensurePolished();
    list_->setRowHeight(probe.sizeHint().height(), 10);
    for (const QString& text : {hideText, showText}) {
        probe.setText(text);
        toggleWidth_ = std::max(toggleWidth_, probe.sizeHint().width());
    }
    layout->addWidget(list_);
    // A sheet taller than its rows (it covers the whole panel) keeps them at the top.
    layout->addStretch(1);

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
    // Each time the sheet comes up the invite button starts over, and the list at its
    // top.
    inviteCopied_ = false;
    render();
    list_->scrollToTop();
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

void FriendsView::renderList() {
    // Hidden, it catches up when it comes up again.
    if (!isVisible())
        return;
    const std::optional<Dashboard>* dashboard = store_ ? &store_->dashboard() : nullptr;
    loaded_ = dashboard && dashboard->has_value();
    model_->setDashboard(loaded_ ? **dashboard : Dashboard());
    showListState();
}

void FriendsView::showListState() {
    // A long list is worked out in the background at first: it is still loading
    // then, not empty.
    const bool waiting = !loaded_ || (model_->isUpdating() && model_->rowCount() == 0);
    spinner_->setVisible(waiting);
    emptyLabel_->setVisible(!waiting && model_->rowCount() == 0);
    list_->setVisible(model_->rowCount() > 0);
}

QWidget* FriendsView::makeRow(int index) {
    const FriendsRow& row = model_->rowAt(index);
    auto* widget = new QWidget();
    AccessibleRole::set(widget, QAccessible::ListItem);
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* label = new ElidedLabel(QString(), widget);
    label->setFont(theme::bodyFont());
    layout->addWidget(label, 1);

    const QString id = row.id;
    const auto addButton = [&](const QString& text, bool prominent) {
        auto* button = new QPushButton(text, widget);
        if (prominent)
            button->setProperty("prominent", true);
        layout->addWidget(button);
        return button;
    };
    switch (row.kind) {
    case FriendsRow::Kind::friendRow: {
        QPushButton* toggle = addButton(hideText, false);
        toggle->setMinimumWidth(toggleWidth_); // keeps its place when it flips
        connect(toggle, &QPushButton::clicked, this, [this, id] {
            if (store_)
                store_->setFriendHidden(id, !store_->isFriendHidden(id));
        });
        break;
    }
    case FriendsRow::Kind::incoming:
        connect(addButton(QStringLiteral("Accept"), true), &QPushButton::clicked, this,
                [this, id] { answer(id, true); });
        connect(addButton(QStringLiteral("Decline"), false), &QPushButton::clicked, this,
                [this, id] { answer(id, false); });
        break;
    case FriendsRow::Kind::outgoing: {
        auto* pending = new QLabel(QStringLiteral("Pending"), widget);
        theme::useSecondaryColour(pending);
        layout->addWidget(pending);
        connect(addButton(QStringLiteral("Cancel"), false), &QPushButton::clicked, this,
                [this, id] { answer(id, false); });
        break;
    }
    }
    return widget;
}

void FriendsView::updateRow(QWidget* widget, int index) {
    const FriendsRow& row = model_->rowAt(index);
    const QString name = personName(row.name);
    widget->findChild<ElidedLabel*>()->setText(name);
    widget->setAccessibleName(FriendsModel::accessibleLabel(row));
    // A screen reader that reads a button alone still says whose it is.
    const auto buttons = widget->findChildren<QPushButton*>();
    for (QPushButton* button : buttons)
        button->setAccessibleDescription(name);
    if (row.kind == FriendsRow::Kind::friendRow) {
        const bool hidden = store_ && store_->isFriendHidden(row.id);
        buttons.first()->setText(hidden ? showText : hideText);
    } else {
        // Disabled while another answer runs, so that two never overlap.
        widget->setEnabled(!(store_ && store_->busy()));
    }
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
