// SPDX-License-Identifier: MIT
#pragma once

#include <QMargins>
#include <QRect>

class QPainter;

namespace varno {

// The rounded, frosted card that the panel and its sheet are drawn as.
namespace GlassCard {

// Room around the card that its soft shadow needs on each side.
QMargins shadowMargins();

// The margins cut back so that the shadow never reaches past the screen's edges,
// where a window manager would push the window back in.
QMargins marginsWithinScreen(QMargins margins, const QRect& card, const QRect& screen);

// Paints the card into rect (in the painter's coordinates), with its shadow
// around it when withShadow is set. An opaque card hides what lies beneath it (a
// sheet over the panel); the panel's own is glass, a little see-through.
void paint(QPainter& painter, const QRect& rect, bool withShadow, bool opaque = false);

} // namespace GlassCard
} // namespace varno
