#pragma once

#include <QColor>
#include <QIcon>

namespace varno {

// The tray menu's symbols. The desktop's icon theme draws them where it has them;
// otherwise (no icon theme installed, or one Qt cannot draw) the app's own, shipped
// as resources and drawn in the colour given, as template images are.
class MenuIcons {
public:
    enum class Symbol { link, signOut, quit };

    static QIcon icon(Symbol symbol, const QColor& colour);
    // The app's own drawing of the symbol, whatever the theme has.
    static QIcon shipped(Symbol symbol, const QColor& colour);
};

} // namespace varno
