// SPDX-License-Identifier: MIT
#include "ui/FocusRing.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPointer>
#include <QStyle>
#include <QWidget>

namespace varno {

namespace {
const char* const visibleProperty = "focusVisible";
} // namespace

void FocusRing::install() {
    static QPointer<FocusRing> instance;
    if (instance || !qApp)
        return;
    instance = new FocusRing(qApp);
    qApp->installEventFilter(instance);
}

bool FocusRing::isVisible(const QWidget* widget) {
    return widget && widget->hasFocus() && widget->property(visibleProperty).toBool();
}

void FocusRing::show(QWidget* widget, bool visible) {
    if (widget->property(visibleProperty).toBool() == visible)
        return;
    widget->setProperty(visibleProperty, visible);
    // The style sheet matches the property: apply it again.
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
        keyboard_ = true;
        if (QWidget* focus = QApplication::focusWidget())
            show(focus, true);
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        keyboard_ = false;
        break;
    case QEvent::FocusIn:
        if (watched->isWidgetType()) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            show(static_cast<QWidget*>(watched),
                 keyboard_ || reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason);
        }
        break;
    case QEvent::FocusOut:
        if (watched->isWidgetType())
            show(static_cast<QWidget*>(watched), false);
        break;
    default:
        break;
    }
    return false;
}

} // namespace varno
