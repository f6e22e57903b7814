// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QWidget;

namespace varno {

// Shows the keyboard's focus ring only while the keyboard is in use, as browsers do
// with :focus-visible: when the focus arrives by Tab, or while keys rather than the
// pointer were used last. A click, or a panel that just opened, leaves no ring. The
// focused widget carries the property "focusVisible", which the style sheet and the
// list delegates draw the ring from.
class FocusRing : public QObject {
    Q_OBJECT
public:
    // Watches the application's input; once, however often it is called.
    static void install();
    static bool isVisible(const QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
    static void show(QWidget* widget, bool visible);
    bool keyboard_ = false;
};

} // namespace varno
