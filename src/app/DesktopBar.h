// SPDX-License-Identifier: MIT
#pragma once

#include <QPoint>
#include <QRect>

#include <optional>

namespace varno {

// The desktop bar (panel, dock) under a point on screen, in Qt's global coordinates:
// what a click on a tray icon that reports no geometry of its own landed in. None
// where the window system cannot tell (Wayland, no bar there).
std::optional<QRect> desktopBarAt(const QPoint& point);

} // namespace varno
