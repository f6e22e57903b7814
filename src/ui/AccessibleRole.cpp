// SPDX-License-Identifier: MIT
#include "ui/AccessibleRole.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace varno {

namespace {

const char* const roleProperty = "varnoAccessibleRole";
const char* const hiddenChildrenProperty = "varnoAccessibleChildrenHidden";

class WidgetWithRole : public QAccessibleWidget {
public:
    WidgetWithRole(QWidget* widget, QAccessible::Role role, bool childrenHidden)
        : QAccessibleWidget(widget, role), childrenHidden_(childrenHidden) {}
    int childCount() const override {
        return childrenHidden_ ? 0 : QAccessibleWidget::childCount();
    }
    QAccessibleInterface* child(int index) const override {
        return childrenHidden_ ? nullptr : QAccessibleWidget::child(index);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return childrenHidden_ ? -1 : QAccessibleWidget::indexOfChild(child);
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        return childrenHidden_ ? nullptr : QAccessibleWidget::childAt(x, y);
    }

private:
    bool childrenHidden_;
};

QAccessibleInterface* interfaceFor(const QString&, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    const QVariant role = object->property(roleProperty);
    if (!role.isValid())
        return nullptr;
    return new WidgetWithRole(static_cast<QWidget*>(object),
                              static_cast<QAccessible::Role>(role.toInt()),
                              object->property(hiddenChildrenProperty).toBool());
}

} // namespace

void AccessibleRole::set(QWidget* widget, QAccessible::Role role, Children children) {
    static const bool installed = [] {
        QAccessible::installFactory(interfaceFor);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(roleProperty, int(role));
    widget->setProperty(hiddenChildrenProperty, children == Children::hidden);
}

} // namespace varno
