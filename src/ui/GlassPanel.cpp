// SPDX-License-Identifier: MIT
#include "ui/GlassPanel.h"

#include "ui/AccessibleRole.h"
#include "ui/Compositing.h"
#include "ui/GlassCard.h"
#include "ui/PanelPlacement.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace varno {

void PanelVisibility::setVisible(bool visible) {
    if (visible_ == visible)
        return;
    visible_ = visible;
    emit isVisibleChanged(visible);
}

GlassPanel::GlassPanel(const ContentBuilder& content, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::NoDropShadowWindowHint),
      visibility_(new PanelVisibility(this)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_QuitOnClose, false);
    // The role before anything else: accessibility keeps the first one it is told.
    AccessibleRole::set(this, QAccessible::Window);
    setWindowTitle(QStringLiteral("Varno leaderboard"));
    setAccessibleName(QStringLiteral("Varno leaderboard"));
    if (content) {
        content_ = content(visibility_);
        if (content_) {
            content_->setParent(this);
            content_->setGeometry(QRect(QPoint(0, 0), contentSize_));
        }
    }
    updateContentSize();
}

GlassPanel::~GlassPanel() {
    if (filtering_)
        qApp->removeEventFilter(this);
}

QRect GlassPanel::cardGeometry() const {
    return QRect(geometry().topLeft() + QPoint(margins_.left(), margins_.top()), contentSize_);
}

bool GlassPanel::dismissedWithin(std::chrono::milliseconds interval) const {
    return dismissedAt_.isValid() && dismissedAt_.elapsed() <= interval.count();
}

void GlassPanel::showRelativeTo(const QRect& anchor) {
    anchor_ = anchor;
    hasAnchor_ = true;
    translucent_ = windowTranslucencyAvailable();
    visibility_->setVisible(true);
    updateContentSize();
    positionPanel();
    show();
    raise();
    activateWindow();
    if (!filtering_) {
        qApp->installEventFilter(this);
        filtering_ = true;
    }
}

void GlassPanel::orderOut() {
    forgetOpening();
    hide();
}

void GlassPanel::forgetOpening() {
    visibility_->setVisible(false);
    if (filtering_) {
        qApp->removeEventFilter(this);
        filtering_ = false;
    }
}

void GlassPanel::dismiss() {
    dismissedAt_.start();
    orderOut();
}

void GlassPanel::updateContentSize() {
    if (!content_)
        return;
    if (QLayout* layout = content_->layout())
        layout->activate();
    QSize hint =
        content_->sizeHint().expandedTo(content_->minimumSize()).boundedTo(content_->maximumSize());
    // Sizes are whole pixels already; an empty size means the content is not laid out.
    if (hint.width() <= 0 || hint.height() <= 0)
        return;
    // Never taller than the screen's free area: the content's lists scroll sooner.
    if (const QScreen* screen = anchorScreen()) {
        const int room = screen->availableGeometry().height();
        hint.setHeight(
            std::max(std::min(hint.height(), room), content_->minimumSizeHint().height()));
    }
    if (hint == contentSize_)
        return;
    contentSize_ = hint;
    positionPanel();
}

QScreen* GlassPanel::anchorScreen() const {
    if (!hasAnchor_)
        return nullptr;
    if (QScreen* screen = QGuiApplication::screenAt(anchor_.center()))
        return screen;
    for (QScreen* candidate : QGuiApplication::screens())
        if (candidate->geometry().intersects(anchor_.adjusted(0, 0, 1, 1)))
            return candidate;
    return nullptr;
}

void GlassPanel::positionPanel() {
    QScreen* screen = anchorScreen();
    QRect card;
    QMargins margins;
    if (!screen) {
        // Nowhere to hang from: keep the card where it is and follow the content's size.
        card = QRect(cardGeometry().topLeft(), contentSize_);
        margins = translucent_ ? margins_ : QMargins();
    } else {
        card = PanelPlacement::frame(anchor_, contentSize_, screen->availableGeometry(),
                                     screen->geometry());
        if (translucent_) {
            // Shadow all round except on the side that meets the bar, and never past
            // the screen's edges (window managers push such windows back inside).
            margins = GlassCard::shadowMargins();
            if (PanelPlacement::opensAbove(anchor_, screen->geometry()))
                margins.setBottom(0);
            else
                margins.setTop(0);
            margins = GlassCard::marginsWithinScreen(margins, card, screen->geometry());
        }
    }
    margins_ = margins;
    setGeometry(card.marginsAdded(margins));
    if (content_)
        content_->setGeometry(QRect(QPoint(margins.left(), margins.top()), contentSize_));
    if (translucent_) {
        clearMask();
    } else {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(QPoint(0, 0), contentSize_), theme::cornerRadius,
                             theme::cornerRadius);
        setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }
    update();
}

bool GlassPanel::event(QEvent* event) {
    // The content's layout asks its parent to lay out again whenever its size hint
    // may have changed: follow it.
    if (event->type() == QEvent::LayoutRequest)
        updateContentSize();
    return QWidget::event(event);
}

bool GlassPanel::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type != QEvent::MouseButtonPress && type != QEvent::NonClientAreaMouseButtonPress) ||
        !visibility_->isVisible() || !watched->isWidgetType())
        return false;
    const QWidget* window = static_cast<QWidget*>(watched)->window();
    const QPoint global = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
    if (window == this) {
        // The shadow around the card is not part of the panel for the user.
        if (!cardGeometry().contains(global))
            dismiss();
        return false;
    }
    if (ownsWindow(window) || window->windowType() == Qt::Popup)
        return false;
    if (hasAnchor_ && anchor_.contains(global))
        return false; // the tray icon's own click decides
    dismiss();
    return false; // the click still goes where it was aimed
}

void GlassPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect card(QPoint(margins_.left(), margins_.top()), contentSize_);
    if (!translucent_) {
        QColor opaque = theme::cardFill();
        opaque.setAlpha(255);
        painter.fillRect(rect(), opaque);
    }
    GlassCard::paint(painter, card, translucent_);
}

void GlassPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        orderOut();
        return;
    }
    QWidget::keyPressEvent(event);
}

void GlassPanel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && visibility_->isVisible() &&
        QApplication::activeWindow() != this) {
        // Decide on the next turn: a click that only moves focus to one of our own
        // dialogs or menus settles first.
        QTimer::singleShot(0, this, &GlassPanel::checkActivation);
    }
    QWidget::changeEvent(event);
}

void GlassPanel::closeEvent(QCloseEvent* event) {
    // Closing only hides the panel, but it is never refused: the application's quit
    // (and a desktop's log-out) closes every window first and gives up at the first
    // one that refuses.
    forgetOpening();
    event->accept();
}

void GlassPanel::checkActivation() {
    if (!visibility_->isVisible() || !isVisible())
        return;
    if (QApplication::activeWindow() == this || ownsActiveSheetOrMenu())
        return;
    dismiss();
}

bool GlassPanel::ownsActiveSheetOrMenu() const {
    if (QApplication::activePopupWidget())
        return true;
    const auto windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [this](QWidget* window) {
        return window != this && window->isVisible() && ownsWindow(window);
    });
}

bool GlassPanel::ownsWindow(const QWidget* window) const {
    for (const QWidget* w = window; w; w = w->parentWidget())
        if (w == this)
            return window != this;
    return false;
}

} // namespace varno
