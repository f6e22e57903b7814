// SPDX-License-Identifier: MIT
#pragma once

#include <QAccessible>

class QWidget;

namespace varno {

// Gives a plain widget the role a screen reader should announce (a list, a list item)
// and, for an item that speaks for all of its parts, hides those parts. Must be set
// before accessibility first asks about the widget.
class AccessibleRole {
public:
    enum class Children { shown, hidden };

    static void set(QWidget* widget, QAccessible::Role role, Children children = Children::shown);
};

} // namespace varno
