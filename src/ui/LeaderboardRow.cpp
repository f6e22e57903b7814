#include "ui/LeaderboardRow.h"

#include "model/Formatting.h"
#include "ui/AccessibleRole.h"
#include "ui/AvatarView.h"
#include "ui/ElidedLabel.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace varno {

LeaderboardRow::LeaderboardRow(const LeaderboardEntry& entry, int offset, AvatarLoader* avatars,
                               QWidget* parent)
    : QWidget(parent), entry_(entry), avatars_(avatars) {
    // One list item whose name says it all: the medal, picture, name and total are
    // not read out one by one.
    AccessibleRole::set(this, QAccessible::ListItem, AccessibleRole::Children::hidden);
    setFixedHeight(theme::rowHeight);

    auto* layout = new QHBoxLayout(this);
    // Room inside the hover highlight, so that it does not touch the medal or the total.
    layout->setContentsMargins(theme::rowInset, 0, theme::rowInset, 0);
    layout->setSpacing(8);

    place_ = new QLabel(this);
    place_->setFixedWidth(theme::rankWidth);
    place_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(place_);

    avatar_ = new AvatarView(entry.avatarURL, avatars_, this);
    layout->addWidget(avatar_);

    name_ = new ElidedLabel(entry.name, this);
    name_->setFont(theme::bodyFont());
    layout->addWidget(name_, 1);

    total_ = new QLabel(this);
    total_->setFont(theme::monospacedDigitsFont());
    total_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    theme::useSecondaryColour(total_);
    layout->addWidget(total_);

    total_->setText(totalText(entry));
    total_->setToolTip(totalHelp(entry));
    showPlace(offset);
}

void LeaderboardRow::setEntry(const LeaderboardEntry& entry, int offset) {
    if (entry.avatarURL != entry_.avatarURL) {
        auto* avatar = new AvatarView(entry.avatarURL, avatars_, this);
        delete layout()->replaceWidget(avatar_, avatar);
        avatar_->deleteLater();
        avatar_ = avatar;
    }
    entry_ = entry;
    name_->setText(entry.name);
    total_->setText(totalText(entry));
    total_->setToolTip(totalHelp(entry));
    showPlace(offset); // the accessible name carries the total as well
}

void LeaderboardRow::showPlace(int offset) {
    const bool medal = offset < 3;
    if (medal != placeIsMedal_) {
        placeIsMedal_ = medal;
        place_->setFont(medal ? theme::medalFont() : theme::monospacedDigitsFont());
        theme::useSecondaryColour(place_, !medal);
    }
    offset_ = offset;
    place_->setText(placeMarker(offset));
    setAccessibleName(accessibleLabel(entry_, offset));
}

QString LeaderboardRow::placeMarker(int offset, const QLocale& locale) {
    switch (offset) {
    case 0:
        return QStringLiteral("🥇");
    case 1:
        return QStringLiteral("🥈");
    case 2:
        return QStringLiteral("🥉");
    default:
        return locale.toString(offset + 1);
    }
}

QString LeaderboardRow::totalText(const LeaderboardEntry& entry) {
    return entry.syncedAt ? compactTokens(entry.total) : QStringLiteral("—");
}

QString LeaderboardRow::totalHelp(const LeaderboardEntry& entry, const QLocale& locale) {
    if (!entry.syncedAt)
        return QStringLiteral("No usage synced yet");
    return locale.toString(entry.total) + QStringLiteral(" tokens · Last 30 days");
}

QString LeaderboardRow::accessibleLabel(const LeaderboardEntry& entry, int offset,
                                        const QLocale& locale) {
    const QString amount = entry.syncedAt ? locale.toString(entry.total) + QStringLiteral(" tokens")
                                          : QStringLiteral("no usage synced yet");
    return QStringLiteral("Rank %1, %2, %3").arg(offset + 1).arg(entry.name, amount);
}

void LeaderboardRow::paintEvent(QPaintEvent*) {
    if (!hovered_)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(theme::hoverFill());
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
}

void LeaderboardRow::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QWidget::enterEvent(event);
}

void LeaderboardRow::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QWidget::leaveEvent(event);
}

} // namespace varno
