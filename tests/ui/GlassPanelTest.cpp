// SPDX-License-Identifier: MIT
#include "UiHarness.h"

#include "ui/GlassCard.h"
#include "ui/GlassSheet.h"
#include "ui/PanelPlacement.h"
#include "ui/WidgetRowList.h"

#include "support/ChildRun.h"

#include <QPainter>
#include <QScrollBar>

namespace varno {
namespace {

using namespace test;

TEST(PanelPlacement, HangsFromTheAnchorOrStandsOnItInTheLowerHalfAndStaysInside) {
    struct Case {
        const char* name;
        QRect anchor, available, screen, expected; // the panel's size is the expected one
    };
    const QRect hd(0, 0, 1920, 1080), top(0, 32, 1920, 1048), bottom(0, 0, 1920, 1040);
    const QRect two(1920, -200, 2560, 1440), twoTop(1920, -172, 2560, 1412);
    const QRect left(-1280, 0, 1280, 1024), leftBottom(-1280, 0, 1280, 984);
    const Case cases[] = {
        // Right edge 12 right of the icon's, top at the icon's bottom.
        {"top bar", {1700, 0, 32, 32}, top, hd, {1424, 32, 320, 200}},
        // Near the right edge the right margin of 8 wins over the overhang.
        {"right edge", {1880, 0, 32, 32}, top, hd, {1592, 32, 320, 200}},
        {"left edge", {0, 0, 32, 32}, top, hd, {8, 32, 320, 200}},
        // Wider than the area less the margins: right-aligned, past the left edge.
        {"too wide", {1700, 0, 32, 32}, top, hd, {-88, 32, 2000, 200}},
        // Taller than the area: never below it.
        {"too tall", {1700, 0, 32, 32}, top, hd, {1424, -20, 320, 1100}},
        // A point (the pointer, or a corner) as the anchor.
        {"point", {1919, 32, 0, 0}, top, hd, {1592, 32, 320, 200}},
        // An icon that pokes below the bar: the panel hangs from the icon, not the bar.
        {"icon below bar", {1700, 20, 24, 24}, top, hd, {1416, 44, 320, 200}},
        // A bottom bar: on the available area's bottom, above the icon, never above the area.
        {"bottom bar", {1800, 1044, 32, 32}, bottom, hd, {1524, 840, 320, 200}},
        {"bottom bar, too tall", {1800, 1044, 32, 32}, bottom, hd, {1524, 0, 320, 1100}},
        // Centred on the screen's middle it still hangs; a point lower, it stands.
        {"middle", {1700, 530, 32, 20}, hd, hd, {1424, 550, 320, 200}},
        {"below middle", {1700, 531, 32, 20}, hd, hd, {1424, 331, 320, 200}},
        // Other screens, at offsets, including negative coordinates.
        {"second screen", {4300, -200, 28, 28}, twoTop, two, {4020, -172, 320, 200}},
        {"second screen, right edge", {4450, -200, 28, 28}, twoTop, two, {4152, -172, 320, 200}},
        {"left screen, bottom bar", {-60, 990, 30, 30}, leftBottom, left, {-338, 784, 320, 200}},
        {"left screen, left edge", {-1280, 990, 30, 30}, leftBottom, left, {-1272, 784, 320, 200}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PanelPlacement::frame(c.anchor, c.expected.size(), c.available, c.screen),
                  c.expected)
            << c.name;
}

TEST(PanelPlacement, MenuHangsFromTheIconEdgeNotThePointerAndStaysOnScreen) {
    struct Case {
        const char* name;
        QRect anchor;
        QPoint expected;
    };
    const QRect screen(0, 0, 1920, 1080);
    const QSize menu(200, 120);
    const Case cases[] = {
        {"top bar", {1700, 0, 24, 24}, {1700, 24}},
        {"bottom bar", {1700, 1050, 24, 30}, {1700, 930}},
        // Pulled back inside the screen at the right edge.
        {"right edge", {1900, 0, 20, 24}, {1720, 24}},
        {"point", {640, 26, 0, 0}, {640, 26}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PanelPlacement::menuPosition(c.anchor, menu, screen), c.expected) << c.name;
}

// The panel is glass, a little see-through; a sheet over it is not, so that the panel's
// rows do not show through the friends list.
TEST(GlassCard, TheSheetsCardHidesWhatIsBeneathThePanelsLetsItShow) {
    for (const bool opaque : {false, true}) {
        QImage image(200, 200, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        GlassCard::paint(painter, QRect(40, 40, 120, 120), true, opaque);
        painter.end();
        EXPECT_EQ(qAlpha(image.pixel(100, 100)) == 255, opaque) << qAlpha(image.pixel(100, 100));
    }
}

using GlassPanelTest = PanelTest; // around the main view

TEST_F(GlassPanelTest, SizesItselfToItsContentAndHangsFromTheAnchor) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    auto frame = [&](QRect anchor) {
        return PanelPlacement::frame(anchor, panel->contentSize(), screen->availableGeometry(),
                                     screen->geometry());
    };
    open();
    EXPECT_EQ(panel->cardGeometry(), frame(anchor()));
    EXPECT_EQ(panel->geometry().top(), anchor().bottom() + 1) << "its shadow stays off the bar";
    const QRect signedOut = panel->cardGeometry();
    openSignedInWith(dashboardWith(leaderboardOf(3)));
    settle();
    EXPECT_EQ(panel->contentSize().width(), 320);
    EXPECT_GT(panel->contentSize().height(), signedOut.height());
    EXPECT_EQ(panel->cardGeometry(), frame(anchor()));
    EXPECT_EQ(panel->cardGeometry().topRight(), signedOut.topRight()) << "grown from the anchor";
    panel->showRelativeTo(anchor().translated(-400, 0));
    EXPECT_EQ(panel->cardGeometry(), frame(anchor().translated(-400, 0))) << "moved while open";
}

TEST_F(GlassPanelTest, ClosesOnEscapeAClickElsewhereOrLostActivationButNotForItsOwnWindows) {
    QWidget bar; // another window of the app, like the bar the tray icon sits in
    bar.setGeometry(anchor().adjusted(-300, 0, 0, 0));
    bar.show();
    open();
    QTest::keyClick(panel.get(), Qt::Key_Escape);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(panel->dismissedWithin(std::chrono::seconds(10))) << "Escape is no dismissal";

    open();
    QTest::mouseClick(view, Qt::LeftButton);
    store->setError("Failed."); // its alert: clicked, and taking the focus
    ASSERT_NE(view->errorAlert(), nullptr);
    QTest::mouseClick(view->errorAlert(), Qt::LeftButton, {}, QPoint(2, 2));
    QApplication::setActiveWindow(view->errorAlert());
    QApplication::processEvents();
    EXPECT_TRUE(panel->isVisible());
    store->setError(std::nullopt);
    QMenu* menu = openMenu(); // its menu, up while another window takes the focus
    ASSERT_NE(menu, nullptr);
    QApplication::setActiveWindow(&bar);
    QApplication::processEvents();
    EXPECT_TRUE(panel->isVisible());
    menu->close();
    QApplication::setActiveWindow(panel.get());
    QTest::mouseClick(&bar, Qt::LeftButton, {}, bar.mapFromGlobal(anchor().center()));
    EXPECT_TRUE(panel->isVisible()) << "a click on the anchor is left to the tray icon";
    QTest::mouseClick(&bar, Qt::RightButton, {}, QPoint(2, 2));
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(panel->dismissedWithin(std::chrono::seconds(10)));

    open();
    QApplication::setActiveWindow(panel.get());
    QApplication::processEvents();
    QApplication::setActiveWindow(&bar);
    EXPECT_TRUE(panel->isVisible()) << "the check waits for the next turn";
    ASSERT_TRUE(waitUntil([&] { return !panel->isVisible(); }));
    EXPECT_FALSE(panel->visibility()->isVisible());
}

// On a short screen (the test screen, 800 pixels square, at scale 3: 266 points high)
// the panel and its sheet fit the free area, and their lists scroll sooner.
TEST_F(GlassPanelTest, FitsAShortScreen) {
    if (!isChildRun()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_SCALE_FACTOR", "3");
        const ChildRun child = runCurrentTestInChild(env);
        EXPECT_EQ(child.outcome, ChildRun::Outcome::passed) << child.output.toStdString();
        return;
    }
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_LT(free.height(), 300) << "the screen is not short";
    // (It is narrower than the panel too; only the height is in question here.)
    const auto fits = [&] {
        return panel->cardGeometry().top() >= free.top() &&
               panel->cardGeometry().bottom() <= free.bottom();
    };
    QList<FriendRequest> requests;
    for (int i = 0; i < 12; ++i)
        requests.append({QString("r%1").arg(i), QString("Asker %1").arg(i), true});
    openSignedInWith(dashboardWith(leaderboardOf(30), requests, "abc"));
    settle();
    EXPECT_TRUE(fits()) << panel->cardGeometry() << " in " << free;
    EXPECT_LT(list()->height(), 356);
    EXPECT_EQ(list()->verticalScrollBar()->maximum(), 30 * 36 - 4 - list()->height());

    view->setShowFriends(true);
    settle();
    GlassSheet* sheet = view->friendsSheet();
    EXPECT_TRUE(fits()) << panel->cardGeometry() << " in " << free;
    EXPECT_EQ(sheet->geometry(), view->rect());
    auto* rows = sheet->findChild<WidgetRowList*>();
    EXPECT_LT(rows->height(), 240);
    EXPECT_LE(rows->mapTo(sheet, QPoint(0, rows->height())).y(), sheet->height());
}

} // namespace
} // namespace varno
