// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>

#include <optional>

namespace varno {

// Where the panel hangs from. A click on the status item gives the best anchor there
// is; the panel keeps it, so that openings that come without a click (`varno --toggle`,
// the panel after sign-in) appear at the same place instead of somewhere else.
class PanelAnchor {
public:
    struct Screen {
        QString name;
        QRect geometry;
    };

    // A tray icon sits in a bar along a screen edge; a pointer farther than this from
    // every edge of its screen cannot be where the icon was clicked (XWayland, for one,
    // only knows where the pointer last crossed one of its own windows).
    static constexpr int maxBarThickness = 96;

    // The status item's area at a click: the icon's own geometry when the tray reports
    // it; else, for a click inside a desktop bar, a square as thick as the bar, centred
    // on the pointer, so that the panel hangs from the bar's edge; else the pointer,
    // when it is near enough to an edge of `screen` (the pointer's screen) to be on a
    // bar. None when the click's place is unknown.
    static std::optional<QRect> fromClick(std::optional<QRect> trayGeometry, const QPoint& pointer,
                                          std::optional<QRect> bar, const QRect& screen);
    // The fallback when there never was a click: the available area's top-right corner.
    static QRect corner(const QRect& availableArea);

    // Keeps a click's anchor together with the screen it was on.
    void remember(const QRect& anchor, const QList<Screen>& screens);
    // The remembered anchor while its screen is still there (same name, still holding
    // the anchor); none otherwise.
    std::optional<QRect> recall(const QList<Screen>& screens) const;

private:
    std::optional<QRect> anchor_;
    QString screen_;
};

} // namespace varno
