#include "UiHarness.h"

#include "ui/PanelPlacement.h"

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

// The panel around the main view, next to another window of the app at the top of the
// screen like the bar the tray icon sits in.
class GlassPanelTest : public PanelTest {
protected:
    GlassPanelTest() {
        bar.setGeometry(screen.left(), screen.top(), screen.width(), 24);
        bar.show();
    }
    QRect frame(QRect anchor) const {
        return PanelPlacement::frame(anchor, panel->contentSize(), available, screen);
    }

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget bar;
};

TEST_F(GlassPanelTest, SizesItselfToItsContentAndHangsFromTheAnchor) {
    open();
    EXPECT_EQ(panel->cardGeometry(), frame(anchor()));
    EXPECT_EQ(panel->geometry().top(), anchor().bottom() + 1) << "its shadow stays off the bar";
    const QRect signedOut = panel->cardGeometry();
    // Content that grows takes the panel with it, still anchored at its top right.
    openSignedInWith(dashboardWith(leaderboardOf(3)));
    EXPECT_EQ(panel->contentSize().width(), 320);
    EXPECT_GT(panel->contentSize().height(), signedOut.height());
    EXPECT_EQ(panel->cardGeometry(), frame(anchor()));
    EXPECT_EQ(panel->cardGeometry().topRight(), signedOut.topRight());
    // Showing again while open moves it and keeps it open.
    const QRect moved(screen.left() + 400, screen.top(), 24, 24);
    panel->showRelativeTo(moved);
    EXPECT_EQ(panel->cardGeometry(), frame(moved));
    EXPECT_TRUE(panel->visibility()->isVisible());
}

TEST_F(GlassPanelTest, EscapeAndClicksElsewhereCloseItButNotClicksOnItsOwnWindowsOrTheAnchor) {
    open();
    QTest::keyClick(panel.get(), Qt::Key_Escape);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(panel->visibility()->isVisible());
    EXPECT_FALSE(panel->dismissedWithin(std::chrono::seconds(10))) << "Escape is no dismissal";

    open();
    QTest::mouseClick(view, Qt::LeftButton);
    store->setError("Failed.");
    ASSERT_NE(view->errorAlert(), nullptr);
    QTest::mouseClick(view->errorAlert(), Qt::LeftButton, {}, QPoint(2, 2));
    const QPoint onAnchor = bar.mapFromGlobal(anchor().center());
    QTest::mouseClick(&bar, Qt::LeftButton, {}, onAnchor); // left to the tray icon
    EXPECT_TRUE(panel->isVisible());
    QTest::mouseClick(&bar, Qt::RightButton, {}, onAnchor - QPoint(200, 0));
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(panel->dismissedWithin(std::chrono::seconds(10)));
}

TEST_F(GlassPanelTest, LosingActivationClosesItOnTheNextTurnUnlessItsSheetOrMenuIsUp) {
    open();
    store->setError("Failed.");
    ASSERT_NE(view->errorAlert(), nullptr);
    QApplication::setActiveWindow(view->errorAlert());
    QApplication::processEvents();
    EXPECT_TRUE(panel->isVisible()) << "its sheet took the focus";
    store->setError(std::nullopt);
    QApplication::setActiveWindow(panel.get());
    QMenu* menu = openMenu();
    ASSERT_NE(menu, nullptr);
    QApplication::setActiveWindow(&bar);
    QApplication::processEvents();
    EXPECT_TRUE(panel->isVisible()) << "its menu is up";
    menu->close();

    QApplication::setActiveWindow(panel.get());
    QApplication::processEvents();
    QApplication::setActiveWindow(&bar);
    EXPECT_TRUE(panel->isVisible()) << "the check waits for the next turn";
    ASSERT_TRUE(waitUntil([&] { return !panel->isVisible(); }));
    EXPECT_FALSE(panel->visibility()->isVisible());
    EXPECT_TRUE(panel->dismissedWithin(std::chrono::seconds(10)));
}

} // namespace
} // namespace varno
