// SPDX-License-Identifier: MIT
#include "ui/PanelPlacement.h"

#include <algorithm>

namespace varno::PanelPlacement {

bool opensAbove(const QRect& anchor, const QRect& screen) {
    // Twice the centre against twice the middle, so that odd sizes need no rounding.
    return 2 * anchor.y() + anchor.height() > 2 * screen.y() + screen.height();
}

QRect frame(const QRect& anchor, const QSize& contentSize, const QRect& screenAvailable,
            const QRect& screen) {
    const int width = contentSize.width();
    const int height = contentSize.height();
    // Edges as coordinates between pixels: right = x + width, bottom = y + height.
    const int allowedLeft = screenAvailable.x() + sideMargin;
    const int allowedRight = screenAvailable.x() + screenAvailable.width() - sideMargin;
    const int allowedTop = screenAvailable.y();
    const int allowedBottom = screenAvailable.y() + screenAvailable.height();
    const int anchorRight = anchor.x() + anchor.width();
    const int anchorBottom = anchor.y() + anchor.height();

    int x = anchorRight + overhang - width;
    x = std::max(x, allowedLeft);
    x = std::min(x, allowedRight - width);

    int y;
    if (opensAbove(anchor, screen)) {
        const int bottom = std::min(anchor.y(), allowedBottom);
        y = std::max(bottom - height, allowedTop);
    } else {
        const int top = std::max(anchorBottom, allowedTop);
        y = std::min(top, allowedBottom - height);
    }
    return QRect(x, y, width, height);
}

QPoint menuPosition(const QRect& anchor, const QSize& menuSize, const QRect& screen) {
    int x = anchor.x();
    int y =
        opensAbove(anchor, screen) ? anchor.y() - menuSize.height() : anchor.y() + anchor.height();
    if (screen.isValid()) {
        x = std::max(screen.x(), std::min(x, screen.x() + screen.width() - menuSize.width()));
        y = std::max(screen.y(), std::min(y, screen.y() + screen.height() - menuSize.height()));
    }
    return QPoint(x, y);
}

} // namespace varno::PanelPlacement
