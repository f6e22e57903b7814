// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QMargins>
#include <QString>

class QWidget;

namespace varno {

// Colours, fonts and sizes of the panel and its views, in one place. Sizes are in
// device-independent pixels (the equivalent of points).
namespace theme {

// Layout numbers the views are built to.
inline constexpr int signedInWidth = 320;
inline constexpr int signedOutWidth = 280;
// The friends sheet covers the signed-in panel, so it is exactly as wide: a wider
// card would hang past the panel's sides with the panel showing beneath it.
inline constexpr int friendsWidth = signedInWidth;
inline constexpr int cardPadding = 14;
inline constexpr int friendsPadding = 16;
inline constexpr int rowHeight = 32;
inline constexpr int rowSpacing = 4;
inline constexpr int visibleRowLimit = 10;
inline constexpr int trailingMargin = 12;
// Room inside a leaderboard row's hover highlight, taken out of the trailing margin on
// the right so that the totals stay under their heading.
inline constexpr int rowInset = 6;
inline constexpr int rankWidth = 20;
inline constexpr int avatarSize = 24;
inline constexpr int friendsListMaxHeight = 240;
inline constexpr int cornerRadius = 18;
inline constexpr int scrollBarWidth = 6;
// The usage chart: a bar 6 wide every 8, so that bars and gaps are whole device pixels
// at scales 1, 1.5 and 2; 30 bars fit the sheet with room to spare.
inline constexpr int usageBarWidth = 6;
inline constexpr int usageBarStride = 8;
inline constexpr int usageChartHeight = 120;

// Height of a list of n leaderboard rows: up to ten show at once, longer lists scroll.
constexpr int leaderboardListHeight(int rows) {
    const int shown = rows < visibleRowLimit ? rows : visibleRowLimit;
    return shown <= 0 ? 0 : (rowHeight + rowSpacing) * shown - rowSpacing;
}

// True when the system palette is dark; the card follows it.
bool isDark();

QColor cardFill();
QColor cardBorder();
QColor cardHighlight();
QColor shadow();
QColor text();
QColor secondaryText();
QColor divider();
QColor accent();
QColor hoverFill();
// Where the keyboard is: around a focused button, or the current row of a list.
QColor focusRing();

// The usage chart's two providers: blue and orange, a pair that colour-blind eyes
// tell apart too, a step lighter on a dark card.
QColor codexColour();
QColor claudeColour();

QFont bodyFont();
QFont headlineFont();
QFont monospacedDigitsFont();
QFont medalFont();

// The style sheet shared by the panel's widgets (buttons, scroll bars, labels).
QString styleSheet();

// A label that draws its text in the secondary colour (or no longer does), under a
// widget that uses styleSheet(). Its tool tip keeps the tool tip's own colours.
void useSecondaryColour(QWidget* widget, bool secondary = true);

// The chain-link symbol of the invite button, drawn in the colour.
QIcon linkIcon(const QColor& colour);

// A one-pixel horizontal rule.
QWidget* makeDivider(QWidget* parent);

// Takes a widget out of its layout and deletes it once control returns to the event
// loop: safe even when the widget holds the button whose click led here.
void retire(QWidget* widget);

} // namespace theme
} // namespace varno
