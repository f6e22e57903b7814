// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QIcon>

namespace varno {

// The tray menu's symbols: the app's own set, shipped as resources and drawn in the
// colour given, as template images are. Never the icon theme's: a theme has some of
// them and not others (none has a chart), and a menu of two sets looks broken.
class MenuIcons {
public:
    enum class Symbol { panel, signIn, usage, link, signOut, notifications, startAtLogin, quit };

    static QIcon icon(Symbol symbol, const QColor& colour);
};

} // namespace varno
