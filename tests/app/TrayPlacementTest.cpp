// SPDX-License-Identifier: MIT
// Where the panel goes from a click on the status item, and where later openings
// without a click put it.

#include "app/DisplayPlatform.h"
#include "app/PanelAnchor.h"

#include "support/Printers.h"

#include <gtest/gtest.h>

namespace varno {
namespace {

TEST(PanelAnchor, AClickGivesTheIconsAreaTheBarsEdgeOrAPointNearAnEdge) {
    const QRect screen(0, 0, 1920, 1080);
    struct Case {
        const char* name;
        std::optional<QRect> tray;
        QPoint pointer;
        std::optional<QRect> bar;
        std::optional<QRect> expected;
    } cases[] = {
        // An XEmbed tray knows the icon's geometry: nothing beats it.
        {"tray geometry",
         QRect(1800, 2, 22, 22),
         {5, 5},
         QRect(0, 0, 1920, 27),
         QRect(1800, 2, 22, 22)},
        // A StatusNotifierItem host does not: the bar's thickness around the pointer, so
        // the panel hangs from the bar's bottom edge, not from mid-icon.
        {"top bar", QRect(), {1155, 13}, QRect(0, 0, 1280, 27), QRect(1142, 0, 27, 27)},
        {"bottom bar",
         std::nullopt,
         {600, 1060},
         QRect(0, 1040, 1920, 40),
         QRect(580, 1040, 40, 40)},
        {"left bar", std::nullopt, {20, 500}, QRect(0, 0, 48, 1080), QRect(0, 476, 48, 48)},
        // A bar that does not hold the pointer says nothing about this click.
        {"bar elsewhere", std::nullopt, {900, 1070}, QRect(0, 0, 1920, 27), QRect(900, 1070, 0, 0)},
        // No bar known: the pointer, as long as it is near enough to an edge.
        {"near the top", std::nullopt, {1000, 30}, std::nullopt, QRect(1000, 30, 0, 0)},
        {"near the right", std::nullopt, {1900, 500}, std::nullopt, QRect(1900, 500, 0, 0)},
        // XWayland's last-known pointer in the middle of the screen: not a tray click.
        {"mid-screen", std::nullopt, {960, 540}, std::nullopt, std::nullopt},
        {"off the screen", std::nullopt, {2500, 10}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PanelAnchor::fromClick(c.tray, c.pointer, c.bar, screen), c.expected) << c.name;
    EXPECT_EQ(PanelAnchor::corner(QRect(0, 27, 1920, 1053)), QRect(1920, 27, 0, 0));
}

TEST(PanelAnchor, RemembersTheLastClickOnlyWhileItsScreenIsThere) {
    const PanelAnchor::Screen laptop{"eDP-1", QRect(0, 0, 1920, 1080)};
    const PanelAnchor::Screen monitor{"HDMI-1", QRect(1920, 0, 2560, 1440)};
    PanelAnchor anchors;
    EXPECT_EQ(anchors.recall({laptop, monitor}), std::nullopt) << "never a click";

    anchors.remember(QRect(4300, 0, 27, 27), {laptop, monitor});
    anchors.remember(QRect(1500, 0, 27, 27), {laptop, monitor});
    EXPECT_EQ(anchors.recall({laptop, monitor}), QRect(1500, 0, 27, 27)) << "the last one wins";

    // Unplugged, or another screen where that one was: the anchor no longer means anything.
    EXPECT_EQ(anchors.recall({monitor}), std::nullopt);
    EXPECT_EQ(anchors.recall({{"DP-2", laptop.geometry}, monitor}), std::nullopt);
    // Shrunk so that the anchor is off it.
    EXPECT_EQ(anchors.recall({{"eDP-1", QRect(0, 0, 1280, 800)}}), std::nullopt);

    // An anchor on no screen at all is not kept.
    anchors.remember(QRect(9000, 9000, 10, 10), {laptop, monitor});
    EXPECT_EQ(anchors.recall({laptop, monitor}), QRect(1500, 0, 27, 27));
}

TEST(DisplayPlatform, WaylandSessionsUseXWaylandWhenThereUnlessTheUserChose) {
    struct Case {
        const char* name;
        QStringList variables;
        std::optional<QByteArray> expected;
    } cases[] = {
        {"wayland with xwayland", {"WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0"}, "xcb"},
        {"session type only", {"XDG_SESSION_TYPE=wayland", "DISPLAY=:1"}, "xcb"},
        {"no xwayland", {"WAYLAND_DISPLAY=wayland-0"}, std::nullopt},
        {"user's choice",
         {"WAYLAND_DISPLAY=w", "DISPLAY=:0", "QT_QPA_PLATFORM=wayland"},
         std::nullopt},
        {"x11 session", {"XDG_SESSION_TYPE=x11", "DISPLAY=:0"}, std::nullopt},
        {"empty values", {"WAYLAND_DISPLAY=", "DISPLAY=:0"}, std::nullopt},
    };
    for (const Case& c : cases) {
        QProcessEnvironment environment;
        for (const QString& variable : c.variables)
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        EXPECT_EQ(preferredPlatform(environment), c.expected) << c.name;
    }
}

} // namespace
} // namespace varno
