#include "ui/GlassPanel.h"
#include "ui/PanelPlacement.h"

#include "QtPrinters.h"
#include "support/AwaitTask.h"

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace varno {
namespace {

using test::waitUntil;

TEST(PanelPlacement, HangsFromTheAnchorAndStaysInsideTheVisibleArea) {
    struct Case {
        const char* name;
        QRect anchor;
        QSize size;
        QRect available;
        QRect screen;
        QRect expected;
    };
    const QRect fullHd(0, 0, 1920, 1080);
    const QRect belowTopBar(0, 32, 1920, 1048);
    const QRect aboveBottomBar(0, 0, 1920, 1040);
    const QRect second(1920, -200, 2560, 1440);
    const QRect secondBelowBar(1920, -172, 2560, 1412);
    const QRect leftScreen(-1280, 0, 1280, 1024);
    const QRect leftAboveBar(-1280, 0, 1280, 984);
    const Case cases[] = {
        // Right edge 12 right of the icon's, top at the icon's bottom.
        {"top bar", {1700, 0, 32, 32}, {320, 200}, belowTopBar, fullHd, {1424, 32, 320, 200}},
        // Near the right edge the right margin of 8 wins over the overhang.
        {"right edge", {1880, 0, 32, 32}, {320, 200}, belowTopBar, fullHd, {1592, 32, 320, 200}},
        {"left edge", {0, 0, 32, 32}, {320, 200}, belowTopBar, fullHd, {8, 32, 320, 200}},
        // Wider than the area less the margins: right-aligned, past the left edge.
        {"too wide", {1700, 0, 32, 32}, {2000, 200}, belowTopBar, fullHd, {-88, 32, 2000, 200}},
        // Taller than the area: never below it.
        {"too tall", {1700, 0, 32, 32}, {320, 1100}, belowTopBar, fullHd, {1424, -20, 320, 1100}},
        // A point (the pointer, or a corner) as the anchor.
        {"point", {1919, 32, 0, 0}, {320, 200}, belowTopBar, fullHd, {1592, 32, 320, 200}},
        // An icon that pokes below the bar: the panel hangs from the icon, not the bar.
        {"icon below bar",
         {1700, 20, 24, 24},
         {320, 200},
         belowTopBar,
         fullHd,
         {1416, 44, 320, 200}},
        // A bottom bar: the panel stands on the available area's bottom, above the icon.
        {"bottom bar",
         {1800, 1044, 32, 32},
         {320, 200},
         aboveBottomBar,
         fullHd,
         {1524, 840, 320, 200}},
        {"bottom bar, too tall",
         {1800, 1044, 32, 32},
         {320, 1100},
         aboveBottomBar,
         fullHd,
         {1524, 0, 320, 1100}},
        // Other screens, at offsets, including negative coordinates.
        {"second screen",
         {4300, -200, 28, 28},
         {320, 200},
         secondBelowBar,
         second,
         {4020, -172, 320, 200}},
        {"second screen, right edge",
         {4450, -200, 28, 28},
         {320, 200},
         secondBelowBar,
         second,
         {4152, -172, 320, 200}},
        {"left screen, bottom bar",
         {-60, 990, 30, 30},
         {320, 200},
         leftAboveBar,
         leftScreen,
         {-338, 784, 320, 200}},
        {"left screen, left edge",
         {-1280, 990, 30, 30},
         {320, 200},
         leftAboveBar,
         leftScreen,
         {-1272, 784, 320, 200}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PanelPlacement::frame(c.anchor, c.size, c.available, c.screen), c.expected)
            << c.name;
    }
}

TEST(PanelPlacement, OpensAboveOnlyInTheLowerHalfOfTheAnchorsScreen) {
    const QRect screen(0, 100, 1000, 800); // middle at y = 500
    EXPECT_FALSE(PanelPlacement::opensAbove({10, 100, 10, 10}, screen));
    EXPECT_FALSE(PanelPlacement::opensAbove({10, 490, 10, 20}, screen)); // centred on the middle
    EXPECT_TRUE(PanelPlacement::opensAbove({10, 491, 10, 20}, screen));
    EXPECT_TRUE(PanelPlacement::opensAbove({10, 880, 10, 20}, screen));
}

// Content whose size a test sets: a layout around one fixed-size block.
struct SizedContent {
    QWidget* widget = new QWidget;
    QWidget* block = new QWidget(widget);
    explicit SizedContent(QSize size) {
        auto* layout = new QVBoxLayout(widget);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(block);
        block->setFixedSize(size);
    }
};

class GlassPanelTest : public ::testing::Test {
protected:
    GlassPanelTest()
        : content(QSize(300, 150)), panel([this](PanelVisibility* visibility) {
              seenVisibility = visibility;
              return content.widget;
          }) {}
    ~GlassPanelTest() override {
        panel.orderOut();
        QApplication::processEvents();
    }

    QRect screen() const { return QGuiApplication::primaryScreen()->geometry(); }
    QRect available() const { return QGuiApplication::primaryScreen()->availableGeometry(); }
    // A tray icon at the top right of the screen.
    QRect topRightAnchor() const { return QRect(screen().right() - 60, screen().top(), 24, 24); }

    void open() {
        panel.showRelativeTo(topRightAnchor());
        ASSERT_TRUE(waitUntil([&] { return panel.isVisible(); }));
    }

    SizedContent content;
    PanelVisibility* seenVisibility = nullptr;
    GlassPanel panel;
};

TEST_F(GlassPanelTest, SizesItselfToItsContentAndHangsFromTheAnchor) {
    EXPECT_EQ(seenVisibility, panel.visibility());
    EXPECT_EQ(panel.contentSize(), QSize(300, 150));
    EXPECT_EQ(panel.windowTitle(), "Varno leaderboard");

    QSignalSpy visibility(&panel, &GlassPanel::visibilityChanged);
    open();
    EXPECT_TRUE(panel.visibility()->isVisible());
    EXPECT_EQ(visibility.count(), 1);
    const QRect expected =
        PanelPlacement::frame(topRightAnchor(), QSize(300, 150), available(), screen());
    EXPECT_EQ(panel.cardGeometry(), expected);
    // Nothing of the window lies over the bar the panel hangs from.
    EXPECT_EQ(panel.geometry().top(), expected.top());
    EXPECT_TRUE(panel.geometry().contains(expected));

    // Content that grows takes the panel with it, still anchored at its top right.
    content.block->setFixedSize(QSize(340, 221));
    ASSERT_TRUE(waitUntil([&] { return panel.contentSize() == QSize(340, 221); }));
    const QRect grown = panel.cardGeometry();
    EXPECT_EQ(grown.size(), QSize(340, 221));
    EXPECT_EQ(grown.topRight(), expected.topRight());

    // Showing again while open moves it and keeps it open, without a second "opened".
    const QRect moved(screen().left() + 400, screen().top(), 24, 24);
    panel.showRelativeTo(moved);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.cardGeometry(),
              PanelPlacement::frame(moved, QSize(340, 221), available(), screen()));
    EXPECT_EQ(visibility.count(), 1);
}

TEST_F(GlassPanelTest, ContentWithoutASizeKeepsTheInitialSize) {
    GlassPanel empty([](PanelVisibility*) { return new QWidget; });
    EXPECT_EQ(empty.contentSize(), QSize(320, 100));
}

TEST_F(GlassPanelTest, EscapeClosesIt) {
    open();
    QSignalSpy visibility(&panel, &GlassPanel::visibilityChanged);
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(panel.visibility()->isVisible());
    ASSERT_EQ(visibility.count(), 1);
    EXPECT_FALSE(visibility.at(0).at(0).toBool());
    EXPECT_FALSE(panel.dismissedWithin(std::chrono::seconds(10)));
}

TEST_F(GlassPanelTest, AClickElsewhereInTheAppClosesItButNotOneOnItsOwnWindows) {
    QWidget other;
    other.setGeometry(screen().left() + 10, screen().top() + 300, 200, 200);
    other.show();
    auto* dialog = new QDialog(content.widget);
    dialog->resize(100, 80);

    open();
    QTest::mouseClick(content.block, Qt::LeftButton);
    EXPECT_TRUE(panel.isVisible()) << "a click inside the panel";
    dialog->show();
    QTest::mouseClick(dialog, Qt::LeftButton);
    EXPECT_TRUE(panel.isVisible()) << "a click on the panel's own dialog";
    dialog->hide();

    QTest::mouseClick(&other, Qt::RightButton, {}, QPoint(50, 50));
    EXPECT_FALSE(panel.isVisible()) << "a right click in another window of the app";
    EXPECT_TRUE(panel.dismissedWithin(std::chrono::seconds(10)));
}

TEST_F(GlassPanelTest, AClickOnTheAnchorIsLeftToTheTrayIcon) {
    // A window of the app lying under the anchor stands in for the tray icon.
    QWidget bar;
    bar.setGeometry(screen().left(), screen().top(), screen().width(), 24);
    bar.show();
    open();
    const QPoint onAnchor = bar.mapFromGlobal(topRightAnchor().center());
    QTest::mouseClick(&bar, Qt::LeftButton, {}, onAnchor);
    EXPECT_TRUE(panel.isVisible());
    QTest::mouseClick(&bar, Qt::LeftButton, {}, onAnchor - QPoint(200, 0));
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(GlassPanelTest, LosingActivationClosesItOnTheNextTurnUnlessItsSheetOrMenuIsUp) {
    QWidget other;
    other.setGeometry(screen().left() + 10, screen().top() + 300, 200, 200);
    other.show();

    open();
    QApplication::setActiveWindow(&panel);
    // Focus that comes straight back within the same turn keeps it open.
    QApplication::setActiveWindow(&other);
    EXPECT_TRUE(panel.isVisible()) << "the check waits for the next turn";
    QApplication::setActiveWindow(&panel);
    QApplication::processEvents();
    EXPECT_TRUE(panel.isVisible());

    // A sheet of the panel taking the focus keeps it open.
    auto* sheet = new QDialog(content.widget);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->open();
    QApplication::setActiveWindow(sheet);
    QApplication::processEvents();
    EXPECT_TRUE(panel.isVisible());
    sheet->done(0);
    QApplication::setActiveWindow(&panel);

    // So does a menu opened from inside it.
    auto* menu = new QMenu(content.widget);
    menu->addAction("Item");
    menu->popup(panel.cardGeometry().center());
    ASSERT_TRUE(waitUntil([&] { return menu->isVisible(); }));
    QApplication::setActiveWindow(&other);
    QApplication::processEvents();
    EXPECT_TRUE(panel.isVisible());
    menu->close();
    QApplication::setActiveWindow(&panel);
    QApplication::processEvents();

    // Anything else loses it.
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(waitUntil([&] { return !panel.isVisible(); }));
    EXPECT_FALSE(panel.visibility()->isVisible());
    EXPECT_TRUE(panel.dismissedWithin(std::chrono::seconds(10)));
}

} // namespace
} // namespace varno
