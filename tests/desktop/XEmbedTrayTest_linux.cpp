// SPDX-License-Identifier: MIT
// Varno on an XEmbed tray (trayer), where Qt embeds the icon itself: both clicks still
// reach Varno, and its one menu and its panel hang from the icon's bottom edge, not from
// the pointer or a screen corner.

#include "support/Programs.h"

#include "support/DesktopSession.h"

#include <QThread>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace varno {
namespace {

using test::DesktopSession;
using test::waitUntil;

const QString varnoProgram = varno::test::varnoProgramPath();

void onTrayer() {
    DesktopSession desktop;
    ASSERT_TRUE(desktop.startX(QStringLiteral("1024x600"))) << "Xvfb did not start";
    desktop.start(QStringLiteral("trayer"),
                  {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "28",
                   "--SetDockType", "true", "--transparent", "false", "--tint", "0xe8e8e8"});
    QThread::msleep(500);
    QProcessEnvironment& env = desktop.environment();
    env.insert("XDG_CONFIG_HOME", desktop.path("config"));
    env.insert("XDG_DATA_HOME", desktop.path("data"));
    env.insert("VARNO_NO_URL_HANDLER", "1");
    env.insert("QT_QPA_PLATFORM", "xcb");
    // A dark application theme on a light tray that publishes no colours.
    env.insert("QT_QPA_PLATFORMTHEME", "gtk3");
    env.insert("GTK_THEME", "Adwaita:dark");
    desktop.start(varnoProgram, {});

    // The icon: the dark pixels on trayer's light bar.
    QImage shot;
    QRect icon;
    ASSERT_TRUE(waitUntil(
        [&] {
            shot = desktop.screenshot();
            icon = QRect();
            for (int y = 0; y < 28 && !shot.isNull(); ++y)
                for (int x = 0; x < shot.width(); ++x)
                    if (shot.pixelColor(x, y).lightnessF() < 0.3 &&
                        shot.pixelColor(x, 27).lightnessF() > 0.7)
                        icon |= QRect(x, y, 1, 1);
            return !icon.isEmpty();
        },
        20s))
        << "no icon in the tray";

    // Before any click, `varno --toggle` (the pointer far away) hangs the panel from the
    // icon too: trayer tells Qt where the icon is.
    desktop.run(QStringLiteral("xdotool"), {"mousemove", "100", "500"});
    EXPECT_EQ(desktop.run(varnoProgram, {"--toggle"}).first, 0);
    std::optional<QRect> panel;
    ASSERT_TRUE(waitUntil(
        [&] {
            panel = desktop.visibleWindow(QStringLiteral("^Varno leaderboard"));
            return panel.has_value();
        },
        10s))
        << "no panel opened";
    EXPECT_GE(panel->top(), icon.bottom());
    EXPECT_LE(panel->top(), 28 + 8);
    EXPECT_GE(panel->right(), icon.left()) << "the panel is not under the icon";
    EXPECT_EQ(desktop.run(varnoProgram, {"--toggle"}).first, 0);
    ASSERT_TRUE(waitUntil(
        [&] { return !desktop.visibleWindow(QStringLiteral("^Varno leaderboard")); }, 10s));

    // A right click on the icon's top half: one menu, hanging from the icon's bottom.
    desktop.click(QPoint(icon.center().x(), icon.top() + 2), 3);
    QList<QRect> menus;
    ASSERT_TRUE(waitUntil(
        [&] {
            menus.clear();
            for (const QRect& window : desktop.visibleWindows({"--classname", "varno"}))
                if (window.width() > 100 && window.height() > 40)
                    menus.append(window);
            return !menus.isEmpty();
        },
        10s))
        << "no menu opened";
    QThread::msleep(300);
    ASSERT_EQ(menus.size(), 1) << "one menu, not Qt's own as well";
    // Trayer's icon window reaches to the bar's bottom; the menu starts right below it,
    // pulled inside the screen at the right.
    EXPECT_GE(menus[0].top(), icon.bottom());
    EXPECT_LE(menus[0].top(), 28);
    EXPECT_EQ(menus[0].right(), shot.width() - 1);
}

TEST(XEmbedTray, BothClicksReachVarnoAndTheMenuHangsFromTheIcon) {
    test::runOnDesktop(onTrayer, {"Xvfb", "trayer", "xdotool", "import"}, false, 90s);
}

} // namespace
} // namespace varno
