#include "ui/LeaderboardRow.h"

#include "model/Formatting.h"
#include "ui/AvatarView.h"
#include "ui/ElidedLabel.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace varno {

LeaderboardRow::LeaderboardRow(const LeaderboardEntry& entry, int offset, AvatarLoader* avatars,
                               QWidget* parent)
    : QWidget(parent), id_(entry.id) {
    setFixedHeight(theme::rowHeight);
    setAccessibleName(accessibleLabel(entry, offset));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto* place = new QLabel(placeMarker(offset), this);
    place->setFixedWidth(theme::rankWidth);
    place->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (offset < 3) {
        place->setFont(theme::medalFont());
    } else {
        place->setFont(theme::monospacedDigitsFont());
        theme::useSecondaryColour(place);
    }
    layout->addWidget(place);

    layout->addWidget(new AvatarView(entry.avatarURL, avatars, this));

    auto* name = new ElidedLabel(entry.name, this);
    name->setFont(theme::bodyFont());
    layout->addWidget(name, 1);

    auto* total = new QLabel(totalText(entry), this);
    total->setFont(theme::monospacedDigitsFont());
    total->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    total->setToolTip(totalHelp(entry));
    theme::useSecondaryColour(total);
    layout->addWidget(total);

    // The row's name says everything; its parts are not read out one by one.
    for (QWidget* part :
         {static_cast<QWidget*>(place), static_cast<QWidget*>(name), static_cast<QWidget*>(total)})
        part->setAccessibleName(QString());
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
