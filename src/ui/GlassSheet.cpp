#include "ui/GlassSheet.h"

#include "ui/Compositing.h"
#include "ui/GlassCard.h"
#include "ui/GlassPanel.h"
#include "ui/Theme.h"

#include <QAction>
#include <QGuiApplication>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace varno {

GlassSheet::GlassSheet(QWidget* content, QWidget* parent)
    // On top like the panel it belongs to, or a window manager may stack it below.
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint |
                          Qt::WindowStaysOnTopHint),
      content_(content) {
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowModality(Qt::WindowModal);
    content_->setParent(this);

    // Return and Enter press the default button whichever button has the focus: some
    // platform themes (GTK's) make them press the focused button instead. A shortcut
    // is seen before the focused button sees the key.
    auto* pressDefault = new QAction(this);
    pressDefault->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    pressDefault->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(pressDefault, &QAction::triggered, this, &GlassSheet::pressDefaultButton);
    addAction(pressDefault);
}

void GlassSheet::pressDefaultButton() {
    const auto buttons = findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        if (button->isDefault() && button->isVisible()) {
            if (button->isEnabled())
                button->click();
            return;
        }
    }
}

QRect GlassSheet::cardGeometry() const {
    return QRect(geometry().topLeft() + QPoint(margins_.left(), margins_.top()), content_->size());
}

void GlassSheet::present() {
    translucent_ = windowTranslucencyAvailable();
    place();
    open();
    raise();
    activateWindow();
}

bool GlassSheet::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest && isVisible())
        place();
    return QDialog::event(event);
}

void GlassSheet::place() {
    if (QLayout* layout = content_->layout())
        layout->activate();
    const QSize size =
        content_->sizeHint().expandedTo(content_->minimumSize()).boundedTo(content_->maximumSize());
    if (size.width() <= 0 || size.height() <= 0)
        return;

    // Hang from the top edge of the parent's card, centred on it.
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    QRect ownerCard;
    if (auto* panel = qobject_cast<GlassPanel*>(owner))
        ownerCard = panel->cardGeometry();
    else if (owner)
        ownerCard = owner->geometry();
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size);
    QRect card(QPoint(0, 0), size);
    if (ownerCard.isValid())
        card.moveTopLeft(QPoint(ownerCard.center().x() - size.width() / 2 + 1, ownerCard.top()));
    else
        card.moveCenter(available.center());
    // Kept on screen, with the same side margins as the panel.
    card.moveLeft(std::clamp(card.left(), available.left() + 8,
                             std::max(available.left() + 8, available.right() - 7 - size.width())));
    card.moveTop(std::clamp(card.top(), available.top(),
                            std::max(available.top(), available.bottom() + 1 - size.height())));

    QMargins margins;
    if (translucent_ && screen) {
        margins = GlassCard::shadowMargins();
        margins = GlassCard::marginsWithinScreen(margins, card, screen->geometry());
    }
    margins_ = margins;
    setFixedSize(card.marginsAdded(margins).size());
    setGeometry(card.marginsAdded(margins));
    content_->setGeometry(QRect(QPoint(margins.left(), margins.top()), size));
    if (translucent_) {
        clearMask();
    } else {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(QPoint(0, 0), size), theme::cornerRadius, theme::cornerRadius);
        setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }
    update();
}

void GlassSheet::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect card(QPoint(margins_.left(), margins_.top()), content_->size());
    if (!translucent_) {
        QColor opaque = theme::cardFill();
        opaque.setAlpha(255);
        painter.fillRect(rect(), opaque);
    }
    // Opaque even on glass: the panel it covers must not show through it.
    GlassCard::paint(painter, card, translucent_, true);
}

} // namespace varno
