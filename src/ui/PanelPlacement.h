// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>
#include <QSize>

namespace varno {

// Where the panel goes, as a pure function of the anchor (the tray icon's area or a
// point), the panel's size and the anchor's screen. All rectangles are in global
// device-independent pixels, y pointing down.
namespace PanelPlacement {

inline constexpr int overhang = 12;  // the panel's right edge sits this far right of the anchor's
inline constexpr int sideMargin = 8; // kept free at the left and right of the available area

// The panel's frame: its right edge 12 right of the anchor's right edge, pulled inside
// the available area less 8 at each side (the right-hand limit wins when the panel is
// wider than that). It hangs from the anchor's bottom, never below the available area;
// for an anchor in the lower half of its screen (a bottom bar) it stands on the anchor's
// top instead, never above the available area.
// Whether the anchor is in the lower half of its screen, so that the panel opens above it.
bool opensAbove(const QRect& anchor, const QRect& screen);

QRect frame(const QRect& anchor, const QSize& contentSize, const QRect& screenAvailable,
            const QRect& screen);

// Where a menu of the given size opens from the anchor: its top-left corner at the
// anchor's bottom-left, or, for an anchor in the lower half of the screen, its
// bottom-left at the anchor's top-left; kept inside the screen.
QPoint menuPosition(const QRect& anchor, const QSize& menuSize, const QRect& screen);

} // namespace PanelPlacement
} // namespace varno
