// SPDX-License-Identifier: MIT
#include "ui/GlassSheet.h"

#include "ui/AccessibleRole.h"
#include "ui/GlassCard.h"
#include "ui/WidgetRowList.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QPushButton>

namespace varno {

GlassSheet::GlassSheet(QWidget* content, const QString& title, QWidget* host)
    : QWidget(host), content_(content), title_(title) {
    AccessibleRole::set(this, QAccessible::Dialog);
    setAccessibleName(title_);
    content_->setParent(this);
    // Clicks stop here rather than reach what is beneath.
    setAttribute(Qt::WA_NoMousePropagation);
    hide();
}

QSize GlassSheet::sizeHint() const {
    return content_->sizeHint();
}

QSize GlassSheet::minimumSizeHint() const {
    return content_->minimumSizeHint();
}

void GlassSheet::present() {
    const QWidget* focus = QApplication::focusWidget();
    if (!isVisible())
        focusBefore_ = (focus && !isAncestorOf(focus)) ? QApplication::focusWidget() : nullptr;
    if (parentWidget())
        setGeometry(parentWidget()->rect());
    show();
    raise();
    // The keyboard comes to the panel with it (a menu may have had it).
    window()->activateWindow();
    for (QPushButton* button : findChildren<QPushButton*>()) {
        if (button->isDefault() && button->isVisibleTo(this)) {
            button->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    setFocus(Qt::OtherFocusReason);
}

void GlassSheet::dismiss() {
    if (isHidden())
        return;
    const bool hadFocus = isAncestorOf(QApplication::focusWidget()) || hasFocus();
    hide();
    // The host shows what it covered first, so that the focus can go back there.
    emit finished();
    if (hadFocus) {
        // Back to the panel, so that its keys (Escape among them) work again, with or
        // without a window manager.
        QWidget* target = focusBefore_ ? focusBefore_.data() : parentWidget();
        if (target && target->isVisible())
            target->setFocus(Qt::OtherFocusReason);
        else if (parentWidget())
            parentWidget()->setFocus(Qt::OtherFocusReason);
    }
}

bool GlassSheet::event(QEvent* event) {
    // The content's size hint changed: the host may need more (or less) room.
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        if (parentWidget())
            parentWidget()->updateGeometry();
    }
    return QWidget::event(event);
}

void GlassSheet::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    content_->setGeometry(rect());
}

void GlassSheet::paintEvent(QPaintEvent*) {
    // Opaque: the panel's rows must not show through.
    QPainter painter(this);
    GlassCard::paint(painter, rect(), false, true);
}

void GlassSheet::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (key == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        dismiss();
        return;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
        // A focused button that let Return pass (not every style presses it) is
        // pressed; anywhere else Return means the default button.
        auto* button = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
        if (button && isAncestorOf(button) && button->isEnabled())
            button->click();
        else
            pressDefaultButton();
        return;
    }
    QWidget::keyPressEvent(event);
}

void GlassSheet::pressDefaultButton() {
    for (QPushButton* button : findChildren<QPushButton*>()) {
        if (button->isDefault() && button->isVisibleTo(this)) {
            if (button->isEnabled())
                button->click();
            return;
        }
    }
}

void GlassSheet::contextMenuEvent(QContextMenuEvent* event) {
    // The panel's menu belongs to what the sheet covers.
    event->accept();
}

QList<QWidget*> GlassSheet::focusStops() const {
    // In the order the sheet was built, which is the order it reads; a list of rows is
    // one stop that steps through its rows itself.
    QList<QWidget*> stops;
    std::function<void(const QWidget*)> collect = [&](const QWidget* parent) {
        for (QObject* object : parent->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (!child || child->isWindow() || !child->isVisibleTo(this) || !child->isEnabled())
                continue;
            if (qobject_cast<WidgetRowList*>(child)) {
                stops.append(child);
                continue;
            }
            if (child->focusPolicy() & Qt::TabFocus)
                stops.append(child);
            collect(child);
        }
    };
    collect(this);
    return stops;
}

bool GlassSheet::focusNextPrevChild(bool next) {
    const QList<QWidget*> stops = focusStops();
    if (stops.isEmpty())
        return true;
    QWidget* focus = QApplication::focusWidget();
    int at = -1;
    for (int i = 0; i < stops.size() && at < 0; ++i)
        if (stops[i] == focus || stops[i]->isAncestorOf(focus))
            at = i;
    if (at >= 0)
        if (auto* list = qobject_cast<WidgetRowList*>(stops[at]); list && list->moveFocus(next))
            return true;
    const int count = int(stops.size());
    for (int step = 1; step <= count; ++step) {
        const int i = at < 0 ? (next ? step - 1 : count - step)
                             : ((at + (next ? step : -step)) % count + count) % count;
        if (auto* list = qobject_cast<WidgetRowList*>(stops[i])) {
            if (list->enterFocus(next))
                return true;
            continue;
        }
        stops[i]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    return true;
}

} // namespace varno
