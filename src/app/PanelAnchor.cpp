// SPDX-License-Identifier: MIT
#include "app/PanelAnchor.h"

#include <algorithm>

namespace varno {

namespace {

bool isArea(const std::optional<QRect>& rect) {
    return rect && rect->isValid() && !rect->isEmpty();
}

// The screen that holds a rectangle's centre (an empty rectangle: its point).
const PanelAnchor::Screen* screenHolding(const QRect& anchor,
                                         const QList<PanelAnchor::Screen>& screens) {
    const QPoint centre(anchor.x() + anchor.width() / 2, anchor.y() + anchor.height() / 2);
    for (const PanelAnchor::Screen& screen : screens)
        if (screen.geometry.contains(centre))
            return &screen;
    return nullptr;
}

} // namespace

std::optional<QRect> PanelAnchor::fromClick(std::optional<QRect> trayGeometry,
                                            const QPoint& pointer, std::optional<QRect> bar,
                                            const QRect& screen) {
    if (isArea(trayGeometry))
        return *trayGeometry;
    if (isArea(bar) && bar->contains(pointer)) {
        if (bar->width() >= bar->height()) {
            // A horizontal bar: the icon spans its height around the pointer.
            const int side = bar->height();
            return QRect(pointer.x() - side / 2, bar->y(), side, side);
        }
        const int side = bar->width();
        return QRect(bar->x(), pointer.y() - side / 2, side, side);
    }
    if (!screen.contains(pointer))
        return std::nullopt;
    const int nearestEdge = std::min({pointer.x() - screen.left(), screen.right() - pointer.x(),
                                      pointer.y() - screen.top(), screen.bottom() - pointer.y()});
    if (nearestEdge > maxBarThickness)
        return std::nullopt;
    return QRect(pointer, QSize(0, 0));
}

QRect PanelAnchor::corner(const QRect& availableArea) {
    return QRect(QPoint(availableArea.x() + availableArea.width(), availableArea.y()), QSize(0, 0));
}

void PanelAnchor::remember(const QRect& anchor, const QList<Screen>& screens) {
    const Screen* screen = screenHolding(anchor, screens);
    if (!screen)
        return;
    anchor_ = anchor;
    screen_ = screen->name;
}

std::optional<QRect> PanelAnchor::recall(const QList<Screen>& screens) const {
    if (!anchor_)
        return std::nullopt;
    const Screen* screen = screenHolding(*anchor_, screens);
    if (!screen || screen->name != screen_)
        return std::nullopt;
    return anchor_;
}

} // namespace varno
