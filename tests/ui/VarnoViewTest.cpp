// SPDX-License-Identifier: MIT
#include "UiHarness.h"

#include "async/Job.h"
#include "model/UsageHistory.h"
#include "ui/FocusRing.h"
#include "ui/GlassSheet.h"
#include "ui/LeaderboardDelegate.h"
#include "ui/Theme.h"
#include "ui/UsageChart.h"
#include "ui/WidgetRowList.h"

#include "support/ChildRun.h"
#include "support/Contrast.h"
#include "support/DesktopSession.h"

#include <QClipboard>
#include <QDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTimer>
#include <QToolTip>

#include <cmath>
#include <limits>

namespace varno {
namespace {

using namespace test;

using VarnoViewTest = PanelTest;

TEST_F(VarnoViewTest, SignedOutItOffersSignInShowsTheRestoringAndTheWaitWithCancel) {
    // As the app's controller does: it runs the store's browser sign-in, and cancels it.
    std::shared_ptr<Job> signIn;
    actions.signIn = [&] {
        signIn = Job::start([s = store.get()](std::stop_token t) { return s->loginWithGitHub(t); });
    };
    actions.cancelSignIn = [&] { signIn->cancel(); };
    open();
    const QStringList idle{"Leaderboard", "Sign in with GitHub"};
    EXPECT_EQ(visibleTexts(view), idle);
    EXPECT_EQ(panel->contentSize().width(), 280);
    store->setBusy(true);
    EXPECT_EQ(visibleTexts(view), QStringList({"Leaderboard", "Restoring your sign-in…"}));
    EXPECT_NE(visibleWithAccessibleName(view, "Progress"), nullptr);
    store->setBusy(false);
    EXPECT_EQ(visibleTexts(view), idle);

    click("Sign in with GitHub");
    ASSERT_TRUE(waitUntil([&] { return store->waitingForBrowser(); }));
    EXPECT_EQ(visibleTexts(view),
              QStringList({"Leaderboard", "Restoring your sign-in…", "Cancel"}));
    click("Cancel");
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_EQ(visibleTexts(view), idle);
    EXPECT_FALSE(store->error()) << "a cancelled sign-in says nothing";
    EXPECT_EQ(readings, 0) << "no refresh while signed out";
}

TEST_F(VarnoViewTest, SignedInItShowsLoadingThenEmptyThenRowsInAListOfFittingHeight) {
    serverDashboard = dashboardWith({});
    openSignedInWith(std::nullopt);
    EXPECT_EQ(visibleTexts(view), QStringList({"Leaderboard", "Tokens"}));
    EXPECT_NE(visibleWithAccessibleName(view, "Loading"), nullptr);
    EXPECT_EQ(list(), nullptr);
    EXPECT_EQ(panel->contentSize().width(), 320) << "the panel follows the card it shows";

    holdRequests = false;
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_EQ(visibleTexts(view), QStringList({"Leaderboard", "Tokens", "No usage yet"}));
    EXPECT_EQ(visibleWithAccessibleName(view, "Loading"), nullptr);

    // Rows 36 apart (32 high, 4 between); the list shows at most 10 and scrolls the rest,
    // down to the last row's bottom edge.
    for (const auto& [people, height] :
         {std::pair{1, 32}, {3, 104}, {4, 140}, {10, 356}, {12, 356}}) {
        store->setDashboard(dashboardWith(leaderboardOf(people)));
        QApplication::processEvents();
        ASSERT_NE(list(), nullptr);
        EXPECT_EQ(list()->height(), height) << people;
        EXPECT_EQ(list()->verticalScrollBar()->maximum(), std::max(0, 36 * people - 4 - 356))
            << people;
        EXPECT_EQ(rowTop(people - 1) - rowTop(0), 36 * (people - 1));
        EXPECT_EQ(labels().size(), people);
    }
}

// Each row is one list item whose name says it all; the total's help shows over the
// total. Names are isolated (or "Someone" when blank), and a total that is no count
// shows as no usage, ranked last.
TEST_F(VarnoViewTest, ARowIsOneNamedItemAndItsTotalHasHelp) {
    QList<LeaderboardEntry> rows = leaderboardOf(3);
    rows.append(person("f8", "Neg", std::numeric_limits<qint64>::min()));
    rows.append(person("f9", "Dana", 12345, true, "https://img.test/a.png"));
    rows.append(person("f10", "Eve", 1234567, true, "file:///etc/passwd"));
    rows.append(person("f11", "Finn", 777, false)); // never synced: a dash, whatever the total
    rows.append(person("f12", QString::fromUtf8("\u202Eevil"), 50));
    rows.append(person("f13", " \n", 40));
    openSignedInWith(dashboardWith(rows));
    EXPECT_EQ(
        accessibleItems(list()),
        QStringList({"Rank 1, Me (you), 5,000,000 tokens", "Rank 2, Friend 1, 4,999,000 tokens",
                     "Rank 3, Friend 2, 4,998,000 tokens", "Rank 4, Dana, 12,345 tokens",
                     "Rank 5, Eve, 1,234,567 tokens", "Rank 6, Finn, no usage synced yet",
                     "Rank 7, evil, 50 tokens", "Rank 8, Someone, 40 tokens",
                     "Rank 9, Neg, no usage synced yet"}));
    EXPECT_EQ(list()->model()->index(6, 0).data(Qt::AccessibleTextRole).toString(),
              QString::fromUtf8("Rank 7, \u2068evil\u2069, 50 tokens"));

    EXPECT_EQ(help(4, true), "1,234,567 tokens · Last 30 days");
    EXPECT_EQ(help(5, true), "No usage synced yet");
    EXPECT_EQ(help(8, true), "No usage synced yet");
    EXPECT_EQ(help(4, false), "") << "only over the total";
    EXPECT_EQ(LeaderboardModel::totalText(rows[3]), "—");
    EXPECT_TRUE(waitUntil([&] { return fetches == 1 && avatars.loadsInFlight() == 0; }))
        << "only the web address is fetched";

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(LeaderboardModel::totalHelp(rows[5]), "1.234.567 tokens · Last 30 days");
    EXPECT_EQ(LeaderboardModel::placeMarker(1233), "1.234");
    EXPECT_EQ(LeaderboardModel::totalText(rows[5]), "1.23M") << "compact totals stay English";
}

TEST_F(VarnoViewTest, TheMenuFollowsTheSessionAndTheBusyFlagAndRunsItsItems) {
    int quits = 0;
    actions.quit = [&] { ++quits; };
    open();
    EXPECT_EQ(menu(0), QStringList({"Quit Varno"}));
    EXPECT_EQ(quits, 1);

    signIn();
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_EQ(menu(), QStringList({"Sync usage", "Friends", "Your Usage", "---", "Sign out", "---",
                                   "Quit Varno"}));
    store->setBusy(true);
    EXPECT_EQ(menu(), QStringList({"Sync usage (off)", "Friends", "Your Usage", "---",
                                   "Sign out (off)", "---", "Quit Varno"}));
    store->setBusy(false);

    menu(0); // Sync usage: read and upload
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_EQ(requestLines().filter("usage").size(), 1) << requestLines().join("|");
    menu(4); // Sign out
    ASSERT_TRUE(waitUntil([&] { return !store->session(); }));
    EXPECT_TRUE(requestLines().contains("POST auth/logout"));
    EXPECT_EQ(visibleTexts(view), QStringList({"Leaderboard", "Sign in with GitHub"}));
}

TEST_F(VarnoViewTest, TheErrorShowsInAnAlertTitledVarnoWhileThePanelIsOpen) {
    open();
    panel->orderOut();
    store->setError("Varno is unavailable.");
    EXPECT_EQ(view->errorAlert(), nullptr) << "it waits for the panel";
    open();
    QMessageBox* alert = view->errorAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->windowTitle(), "Varno");
    EXPECT_EQ(visibleTexts(alert), QStringList({"Varno is unavailable.", "OK"}));
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_EQ(alert->parentWidget()->window(), panel.get());

    // Closing the panel takes the alert away but keeps the message for the next opening.
    panel->orderOut();
    EXPECT_EQ(view->errorAlert(), nullptr);
    open();
    ASSERT_NE(view->errorAlert(), nullptr);
    store->setError("Again.");
    EXPECT_EQ(view->errorAlert()->text(), "Again.") << "a newer message replaces the text";
    store->setError(std::nullopt);
    EXPECT_EQ(view->errorAlert(), nullptr) << "cleared by the store, it goes";
    store->setError("Last.");
    click("OK", view->errorAlert());
    EXPECT_FALSE(store->error()) << "OK clears it";
}

TEST_F(VarnoViewTest, ThePanelRefreshesWithoutUploadWhileOpenPerUserAndStopsWhenClosed) {
    signIn();
    open();
    ASSERT_TRUE(waitUntil([&] { return labels().size() == 2 && !store->busy(); }));
    signIn(); // the same user: no new refresh
    signIn(User{"u-other", "Other", "o@example.com"});
    ASSERT_TRUE(waitUntil([&] { return requests.size() == 2 && !store->busy(); }));
    EXPECT_EQ(requestLines(), QStringList({"GET dashboard", "GET dashboard"}));
    EXPECT_EQ(readings, 2);

    // Closing cancels an unfinished refresh, quietly.
    panel->orderOut();
    holdRequests = true;
    open();
    ASSERT_TRUE(waitUntil([&] { return requests.size() == 3; }));
    panel->orderOut();
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_EQ(cancelledRequests, 1);
    EXPECT_FALSE(store->error());
}

// The total's tool tip keeps its own colours: the label's faint secondary colour must
// not leak into it, in a light or a dark palette.
TEST_F(VarnoViewTest, TheTotalsToolTipIsReadableInLightAndDarkPalettes) {
    const QPalette original = QApplication::palette();
    QPalette dark = original; // the tool tip's own colours stay as they are
    dark.setColor(QPalette::Window, QColor(40, 40, 44));
    dark.setColor(QPalette::WindowText, QColor(240, 240, 240));
    for (const auto& [name, palette] : {std::pair{"light", original}, std::pair{"dark", dark}}) {
        QApplication::setPalette(palette);
        panel.reset(); // the view takes its colours when it is built
        openSignedInWith(dashboardWith(leaderboardOf(2)));
        ASSERT_FALSE(help(0, true).isEmpty());
        QWidget* tip = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->inherits("QTipLabel"))
                tip = w;
        ASSERT_NE(tip, nullptr);
        // Inside the border and its rounded corners, so that only the text can stand
        // out from the fill; the left padding is fill alone.
        const QImage image = tip->grab().toImage().copy(tip->rect().adjusted(4, 4, -4, -4));
        const QColor background = image.pixelColor(0, image.height() / 2);
        double contrast = 1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                contrast = std::max(contrast, contrastRatio(image.pixelColor(x, y), background));
        EXPECT_GE(contrast, 4.5) << name << " palette";
        QToolTip::hideText();
    }
    QApplication::setPalette(original);
}

// A sync shows the server's order with the right ranks at once. What holds still is
// the view: the row under the pointer, or without the pointer the first row in view,
// keeps its place on screen; a list at its top without the pointer stays at the top.
TEST_F(VarnoViewTest, ASyncShowsTheServersOrderWhileTheRowLookedAtKeepsItsPlace) {
    using Rows = QList<LeaderboardEntry>;
    const auto climb = [](Rows& rows, int from, int to) {
        LeaderboardEntry moved = rows.takeAt(from);
        moved.total = rows[to].total + 1;
        rows.insert(to, moved);
    };
    struct Case {
        const char* what;
        bool pointer;
        int scrolledRows;
        std::function<void(Rows&)> change;
        QString anchor; // the row that must keep its place; empty: the list stays at the top
    };
    const Case cases[] = {
        {"two friends jump to the top", true, 0, [&](Rows& r) { climb(r, 20, 0), climb(r, 26, 0); },
         "Friend 4"},
        {"the row under the pointer goes away: the next takes its place", true, 3,
         [](Rows& r) { r.removeAt(7); }, "Friend 8"},
        {"without the pointer, rows arriving above the first row in view", false, 5,
         [](Rows& r) {
             r.insert(1, person("n1", "New 1", 6'000'000)),
                 r.insert(1, person("n2", "New 2", 6'000'001));
         },
         "Friend 5"},
        {"without the pointer at the top, rows arriving there are seen", false, 0,
         [](Rows& r) { r.prepend(person("n1", "New 1", 9'000'000)); }, ""},
        {"everything moves at once", true, 2, [](Rows& r) { std::reverse(r.begin() + 1, r.end()); },
         "Friend 6"},
    };
    openSignedInWith(dashboardWith(leaderboardOf(120)));
    QScrollBar* scroll = list()->verticalScrollBar();
    const QPoint point(100, 4 * 36 + 10); // over the fifth row in view
    for (const Case& c : cases) {
        movePointerAway();
        store->setDashboard(dashboardWith(leaderboardOf(120)));
        scroll->setValue(c.scrolledRows * 36);
        if (c.pointer)
            movePointer(list()->viewport(), point);
        // Where the row looked at is: under the pointer, or the first in view.
        const int before = rowTop(c.pointer ? list()->indexAt(point).row() : c.scrolledRows);
        Rows next = leaderboardOf(120);
        c.change(next);
        serverDashboard = dashboardWith(next);
        awaitTask(store->refresh(true));

        QStringList expected;
        for (int i = 0; i < next.size(); ++i)
            expected.append(QString("Rank %1, %2%3")
                                .arg(i + 1)
                                .arg(next[i].name, next[i].isMe ? " (you)" : ""));
        EXPECT_EQ(ranksAndNames(), expected) << c.what;
        if (c.anchor.isEmpty()) {
            EXPECT_EQ(scroll->value(), 0) << c.what;
            continue;
        }
        const int row = labels().indexOf(QRegularExpression("Rank \\d+, " + c.anchor + ",.*"));
        EXPECT_EQ(rowTop(row), before) << c.what;
        if (c.pointer) {
            EXPECT_TRUE(rowNameAt(point).endsWith(", " + c.anchor)) << c.what;
        }
    }
    // Each opening starts at the top.
    movePointerAway();
    scroll->setValue(500);
    panel->orderOut();
    open();
    EXPECT_EQ(scroll->value(), 0);
}

// Places from 100 on need more than two digits' room: the column is as wide as the
// widest place in the list, so the last place is drawn whole.
TEST_F(VarnoViewTest, PlacesPast99AreDrawnWhole) {
    openSignedInWith(dashboardWith(leaderboardOf(2)));
    // The list is drawn on the panel's card: on its own, only the ink is opaque.
    const auto inkColumns = [](const QImage& image, QRect area) {
        int left = -1, right = -1;
        for (int x = area.left(); x <= area.right(); ++x)
            for (int y = area.top(); y <= area.bottom(); ++y)
                if (qAlpha(image.pixel(x, y)) > 100) {
                    left = left < 0 ? x : left;
                    right = x;
                    break;
                }
        return std::pair{left, right};
    };
    for (const int people : {99, 100, 10'000}) {
        store->setDashboard(dashboardWith(leaderboardOf(people)));
        list()->scrollToBottom();
        QApplication::processEvents();
        const QRect rect = list()->visualRect(list()->model()->index(people - 1, 0));
        const auto parts =
            list()->delegate()->parts(rect, list()->leaderboard()->rowAt(people - 1));
        const QImage shot = list()->viewport()->grab().toImage();
        const auto [left, right] =
            inkColumns(shot, QRect(rect.left(), rect.top(), parts.avatar.left() - rect.left(), 32));
        // The same number alone, in the same font, as wide as its ink.
        const QString place = QLocale().toString(people);
        QImage alone(200, 40, QImage::Format_ARGB32_Premultiplied);
        alone.fill(Qt::transparent);
        QPainter painter(&alone);
        painter.setFont(theme::monospacedDigitsFont());
        painter.setPen(theme::secondaryText());
        painter.drawText(QRect(10, 0, 180, 40), Qt::AlignLeft | Qt::AlignVCenter, place);
        painter.end();
        const auto [aloneLeft, aloneRight] = inkColumns(alone, alone.rect());
        EXPECT_NEAR(right - left, aloneRight - aloneLeft, 1) << place.toStdString();
        EXPECT_LT(right, parts.avatar.left() - 4) << place.toStdString();
    }
}

// The panel by keyboard: Tab reaches the list, Home and End go to its ends with a ring
// on the row, and Shift+F10 or the Menu key open the panel's menu (its only way to
// Friends, Sync usage and Sign out).
TEST_F(VarnoViewTest, ThePanelWorksByKeyboard) {
    openSignedInWith(dashboardWith(leaderboardOf(30)));
    QApplication::setActiveWindow(panel.get());
    ASSERT_TRUE(waitUntil([&] { return list()->hasFocus(); }));
    EXPECT_FALSE(FocusRing::isVisible(list())) << "no ring before a key is used";
    press(Qt::Key_End);
    EXPECT_EQ(list()->currentIndex().row(), 29);
    EXPECT_EQ(list()->verticalScrollBar()->value(), list()->verticalScrollBar()->maximum());
    EXPECT_TRUE(FocusRing::isVisible(list()));
    press(Qt::Key_Home);
    EXPECT_EQ(list()->currentIndex().row(), 0);
    EXPECT_EQ(list()->verticalScrollBar()->value(), 0);
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_F10, Qt::KeyboardModifiers(Qt::ShiftModifier)},
          std::pair{Qt::Key_Menu, Qt::KeyboardModifiers()}}) {
        press(key, modifiers);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr) << key;
        EXPECT_EQ(menu->actions().value(1)->text(), "Friends");
        EXPECT_TRUE(panel->cardGeometry().contains(menu->pos())) << "at the list, not the pointer";
        menu->close();
    }
}

// The user's own 30 days: waiting for the first reading, then the bars, whose day the
// keyboard's cursor or the pointer picks, and a list of 30 days for a screen reader.
TEST_F(VarnoViewTest, TheUsageSheetShowsEachDayByKeyboardPointerAndScreenReader) {
    const QDate today = store->now().toTimeZone(store->timeZone()).date();
    const auto on = [&](int daysAgo) { return today.addDays(-daysAgo).toString(Qt::ISODate); };
    localUsage = {{"codex", on(29), 7},
                  {"codex", on(1), 20'000},
                  {"claude", on(1), 3'000},
                  {"codex", on(0), 1'000'000},
                  {"claude", on(0), 234'567}};
    holdReadings = true;
    QList<LeaderboardEntry> rows = leaderboardOf(2);
    rows[0].codex = 4'000'000'000;
    rows[0].claude = 1'500'000'000;
    rows[0].total = 5'500'000'000;
    serverDashboard = dashboardWith(rows);
    signIn();
    store->setDashboard(serverDashboard);
    open();  // its refresh waits for CodexBar
    menu(2); // Your Usage
    GlassSheet* sheet = view->usageSheet();
    ASSERT_TRUE(sheet && sheet->isVisible());
    EXPECT_EQ(panel->windowTitle(), "Varno leaderboard — Your Usage");
    EXPECT_NE(visibleWithAccessibleName(sheet, "Reading your usage"), nullptr);
    EXPECT_EQ(sheet->findChild<UsageChart*>()->isVisible(), false);

    holdReadings = false;
    ASSERT_TRUE(waitUntil([&] { return store->snapshot().has_value(); }));
    auto* chart = sheet->findChild<UsageChart*>();
    ASSERT_TRUE(chart && chart->isVisible());
    EXPECT_EQ(visibleWithAccessibleName(sheet, "Reading your usage"), nullptr);
    const auto dayShown = [&] { return visibleTexts(sheet).mid(visibleTexts(sheet).size() - 3); };
    const auto dayName = [&](int daysAgo) {
        return UsageHistory::dayName(today.addDays(-daysAgo));
    };
    // Today and the busiest day, then by provider (the chart's legend) this computer and
    // all machines.
    // clang-format off
    const QStringList summary{"Your Usage", "Last 30 days", "Done",
                              "Today", "1.23M", "Busiest day", "1.23M", UsageHistory::shortDayName(today),
                              "This\ncomputer", "All your\nmachines",
                              "Codex", "1.02M", "4B",
                              "Claude Code", "238K", "1.5B",
                              "Total", "1.26M", "5.5B",
                              dayName(0)};
    // clang-format on
    EXPECT_EQ(visibleTexts(sheet).mid(0, summary.size()), summary);
    EXPECT_EQ(dayShown(), QStringList({dayName(0), "1,234,567 tokens",
                                       "Codex 1,000,000 · Claude Code 234,567"}));

    // The keyboard moves the day cursor; the numbers follow.
    chart->setFocus();
    press(Qt::Key_Left);
    EXPECT_EQ(dayShown(),
              QStringList({dayName(1), "23,000 tokens", "Codex 20,000 · Claude Code 3,000"}));
    press(Qt::Key_Home);
    EXPECT_EQ(dayShown(), QStringList({dayName(29), "7 tokens", "Codex 7 · Claude Code 0"}));
    press(Qt::Key_Right);
    EXPECT_EQ(dayShown(), QStringList({dayName(28), "0 tokens", "Codex 0 · Claude Code 0"}));
    press(Qt::Key_End);
    EXPECT_EQ(dayShown()[0], dayName(0));

    // The pointer over a bar shows its day while it stays there.
    const QRect yesterday = chart->visualRect(chart->model()->index(28, 0));
    QTest::mouseMove(chart->viewport(), yesterday.center());
    EXPECT_EQ(dayShown()[1], "23,000 tokens");
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(chart->viewport(), &leave);
    EXPECT_EQ(dayShown()[0], dayName(0));

    const QStringList items = accessibleItems(chart);
    ASSERT_EQ(items.size(), 30);
    EXPECT_EQ(items.last(),
              dayName(0) + ", 1,234,567 tokens: Codex 1,000,000, Claude Code 234,567");
    EXPECT_EQ(items[1], dayName(28) + ", 0 tokens: Codex 0, Claude Code 0");

    QApplication::setActiveWindow(panel.get());
    chart->setFocus();
    press(Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(panel->isVisible());

    // CodexBar fails: its message shows, over the last reading it gave.
    readFailure = "Install CodexBar to read your Codex and Claude Code token usage.";
    menu(2);
    Job::start([s = store.get()](std::stop_token t) { return s->refresh(false, t); });
    ASSERT_TRUE(waitUntil([&] { return store->usageError().has_value(); }));
    EXPECT_TRUE(visibleTexts(sheet).contains(*readFailure));
    EXPECT_TRUE(chart->isVisible());
}

// The friends sheet as the main view opens it, on the panel.
class FriendsViewTest : public PanelTest {
protected:
    void openSheetWith(std::optional<Dashboard> dashboard) {
        openSignedInWith(std::move(dashboard));
        openSheet();
    }
    void openSheet() {
        menu(1); // Friends
        ASSERT_TRUE(waitUntil([&] { return sheet() && sheet()->isVisible(); }));
    }
    GlassSheet* sheet() const { return view->friendsSheet(); }
    WidgetRowList* rowList() const { return sheet()->findChild<WidgetRowList*>(); }
    // The row of a friend, or of a request from or to that person.
    QWidget* rowOf(const QString& name) const {
        return visibleChildren(sheet(),
                               [&](QWidget* w) {
                                   const QString label = withoutIsolates(w->accessibleName());
                                   return label == name || label.endsWith(" " + name);
                               })
            .value(0);
    }
    // What has the keyboard: the focused button's text, or the widget's name.
    static QString focused() {
        QWidget* focus = QApplication::focusWidget();
        if (auto* button = qobject_cast<QAbstractButton*>(focus))
            return button->text();
        return focus ? focus->accessibleName() : QString("nothing");
    }
    const QStringList header{"Friends", "Copy invite link", "Done"};
};

// The sheet is drawn inside the panel (no window of its own) and covers it whole,
// whether it is shorter or taller than the leaderboard; it comes and goes with the
// panel, and the panel's window is named after it while it is up.
TEST_F(FriendsViewTest, TheSheetIsDrawnInsideThePanelAndCoversItWhole) {
    QList<FriendRequest> many;
    for (int i = 0; i < 20; ++i)
        many.append({QString("r%1").arg(i), QString("Asker %1").arg(i), true});
    for (const auto& [what, dashboard] :
         {std::pair{"shorter than the leaderboard", dashboardWith(leaderboardOf(12), {}, "code 7")},
          std::pair{"taller than it", dashboardWith(leaderboardOf(2), many, "code 7")}}) {
        openSignedInWith(dashboard);
        settle();
        const QSize before = panel->contentSize();
        openSheet();
        settle();
        EXPECT_FALSE(sheet()->isWindow()) << what;
        EXPECT_EQ(sheet()->window(), panel.get()) << what;
        EXPECT_EQ(sheet()->geometry(), view->rect()) << what;
        EXPECT_EQ(view->size(), panel->contentSize()) << what;
        EXPECT_EQ(panel->contentSize().height() > before.height(),
                  what == std::string("taller than it"));
        EXPECT_EQ(panel->windowTitle(), "Varno leaderboard — Friends");
        click("Done", sheet());
        settle();
        EXPECT_FALSE(sheet()->isVisible());
        EXPECT_EQ(panel->windowTitle(), "Varno leaderboard");
        EXPECT_EQ(panel->contentSize().height(), before.height()) << what;
    }

    openSheet();
    click("Copy invite link", sheet());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "https://varno.app/?r=code%207");
    click("Copied", sheet());
    EXPECT_NE(visibleWithText(sheet(), "Copied"), nullptr) << "copying again keeps the label";
    panel->orderOut();
    EXPECT_FALSE(sheet()->isVisible());
    panel->showRelativeTo(anchor());
    ASSERT_TRUE(waitUntil([&] { return sheet()->isVisible(); })) << "it comes back with the panel";
    EXPECT_EQ(visibleTexts(sheet()).mid(0, 3), header) << "shown again, the label starts over";
    store->setSession(std::nullopt);
    EXPECT_FALSE(sheet()->isVisible()) << "signing out closes it";
}

TEST_F(FriendsViewTest, ItWaitsThenListsFriendsBeforeOpenRequestsAndHidesThemFromTheLeaderboard) {
    // Only the user and answered requests: no friends yet.
    serverDashboard =
        dashboardWith(leaderboardOf(1), {{"r1", "Old", true, true}, {"r2", "Older", false, true}});
    openSheetWith(std::nullopt);
    EXPECT_EQ(visibleTexts(sheet()), QStringList({"Friends", "Copy invite link (off)", "Done"}));
    EXPECT_NE(visibleWithAccessibleName(sheet(), "Progress"), nullptr);

    holdRequests = false;
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_EQ(visibleTexts(sheet()),
              QStringList({"Friends", "Copy invite link (off)", "Done", "No friends yet"}));
    EXPECT_EQ(visibleWithAccessibleName(sheet(), "Progress"), nullptr);

    store->setDashboard(dashboardWith(leaderboardOf(3),
                                      {{"r1", "Incoming Ann", true},
                                       {"r2", "Accepted Al", true, true},
                                       {"r3", "Outgoing Bo", false}},
                                      "abc"));
    EXPECT_EQ(visibleTexts(sheet()),
              header + QStringList({"Friend 1", "Hide friend", "Friend 2", "Hide friend", //
                                    "Incoming Ann", "Accept", "Decline",                  //
                                    "Outgoing Bo", "Pending", "Cancel"}));

    // A hidden friend stays listed here, and leaves the leaderboard at once.
    click("Hide friend", rowOf("Friend 1"));
    EXPECT_EQ(ranksAndNames(), QStringList({"Rank 1, Me (you)", "Rank 2, Friend 2"}));
    click("Show friend", rowOf("Friend 1"));
    EXPECT_EQ(ranksAndNames(),
              QStringList({"Rank 1, Me (you)", "Rank 2, Friend 1", "Rank 3, Friend 2"}));
    EXPECT_NE(visibleWithText(rowOf("Friend 1"), "Hide friend"), nullptr);

    // A long list scrolls within 240; ten thousand friends cost the rows in view.
    store->setDashboard(dashboardWith(leaderboardOf(30)));
    settle();
    EXPECT_EQ(rowList()->height(), 240);
    store->setDashboard(dashboardWith(leaderboardOf(10'001)));
    EXPECT_LE(rowList()->builtRows(), 9);
    EXPECT_EQ(rowList()->rows()->rowCount(), 10'000);
}

TEST_F(FriendsViewTest, WhileAnAnswerRunsOnlyTheRequestButtonsAreDisabled) {
    openSheetWith(
        dashboardWith(leaderboardOf(2), {{"r1", "Ann", true}, {"r3", "Bo", false}}, "abc"));
    holdRequests = true;
    click("Accept", sheet());
    ASSERT_TRUE(waitUntil([&] { return store->busy(); }));
    // A dashboard landing meanwhile keeps the new request rows disabled.
    store->setDashboard(
        dashboardWith(leaderboardOf(2), {{"r1", "Ann", true}, {"r3", "Bo", false}}, "x"));
    EXPECT_EQ(visibleTexts(sheet()),
              header + QStringList({"Friend 1", "Hide friend", "Ann", "Accept (off)",
                                    "Decline (off)", "Bo", "Pending", "Cancel (off)"}));

    // Once the server drops the answered request from the dashboard its row goes.
    serverDashboard.requests = {FriendRequest{"r3", "Bo", false}};
    holdRequests = false;
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_EQ(requestLines().mid(1), QStringList({"PATCH friends/r1", "GET dashboard"}));
    EXPECT_EQ(requests[1].body, "{}");
    EXPECT_EQ(visibleTexts(sheet()),
              header + QStringList({"Friend 1", "Hide friend", "Bo", "Pending", "Cancel"}));
    click("Cancel", sheet());
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_EQ(requestLines().mid(3), QStringList({"DELETE friends/r3", "GET dashboard"}));
}

// The sheet's list keeps the server's order too, with the row under the pointer held
// in place: a friend arriving above it, and an answered request whose row goes.
TEST_F(FriendsViewTest, TheListFollowsTheServerWhileTheRowUnderThePointerKeepsItsPlace) {
    QList<FriendRequest> requests{{"r1", "Ann", true}, {"r2", "Bo", true}, {"r3", "Cy", false}};
    for (int i = 4; i < 9; ++i)
        requests.append({QString("r%1").arg(i), QString("Di %1").arg(i), true});
    Dashboard dashboard = dashboardWith(leaderboardOf(7), requests, "abc");
    openSheetWith(dashboard);
    settle();
    rowList()->verticalScrollBar()->setValue(136); // Bo in the middle
    const auto y = [&](const QString& name) {
        QWidget* row = rowOf(name);
        return row ? row->mapTo(rowList()->viewport(), QPoint()).y() : -1;
    };
    const auto names = [&] {
        QStringList all;
        for (int row = 0; row < rowList()->rows()->rowCount(); ++row)
            all.append(withoutIsolates(
                rowList()->rows()->index(row, 0).data(Qt::AccessibleTextRole).toString()));
        return all;
    };

    const QPoint at = rowOf("Bo")->mapTo(rowList()->viewport(), QPoint(20, 10));
    movePointer(rowList()->viewport(), at);
    const int bo = y("Bo");
    // A new friend at the top, and Friend 6 climbing above everyone else.
    dashboard.leaderboard.move(6, 1);
    dashboard.leaderboard.insert(1, person("n", "Newcomer", 9'000'000));
    store->setDashboard(dashboard);
    EXPECT_EQ(names().mid(0, 3), QStringList({"Newcomer", "Friend 6", "Friend 1"}));
    EXPECT_EQ(y("Bo"), bo);

    // Bo's request answered: Cy's row takes its place under the pointer.
    serverDashboard = dashboard;
    serverDashboard.requests.removeAt(1);
    QTest::mouseClick(visibleWithText(rowOf("Bo"), "Decline"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_TRUE(requestLines().contains("DELETE friends/r2"));
    EXPECT_EQ(rowOf("Bo"), nullptr);
    EXPECT_EQ(y("Your friend request to Cy"), bo);
    EXPECT_EQ(names().mid(7, 3),
              QStringList({"Friend request from Ann", "Your friend request to Cy",
                           "Friend request from Di 4"}));
}

// Tab reaches every control, each named; Return presses the focused button (keypad
// Enter too) and "Done" anywhere else, which keeps its look; the ring shows where the
// keyboard is. Escape closes the sheet, and with the focus back on the panel (no window
// manager here), Escape again closes the panel. With Qt's own theme here, and again
// in a child process with GTK's, which makes Return press the focused button itself.
TEST_F(FriendsViewTest, TheSheetWorksByKeyboard) {
    if (isChildRun()) {
        // Only meaningful where the theme really presses a focused button on Return.
        QDialog probe;
        auto* focused = new QPushButton("Focused", &probe);
        bool pressed = false;
        QObject::connect(focused, &QPushButton::clicked, [&] { pressed = true; });
        probe.show();
        focused->setFocus();
        QTest::keyClick(focused, Qt::Key_Return);
        ASSERT_TRUE(pressed) << "the GTK platform theme is not in effect";
    }
    openSheetWith(dashboardWith(leaderboardOf(3), {{"r1", "Ann", true}}, "abc"));
    QApplication::setActiveWindow(panel.get());
    QStringList stops;
    for (int i = 0; i < 7; ++i) {
        stops.append(focused());
        press(Qt::Key_Tab);
    }
    EXPECT_EQ(stops, QStringList({"Done", "Hide friend", "Hide friend", "Accept", "Decline",
                                  "Copy invite link", "Done"}));

    // Round once, and on to the first friend's toggle: Return presses it, keypad Enter
    // too.
    ASSERT_EQ(focused(), "Hide friend");
    QAbstractButton* toggle = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
    const QImage plain = visibleWithText(sheet(), "Copy invite link")->grab().toImage();
    const QImage ring = toggle->grab().toImage();
    const QColor edge = ring.pixelColor(1, ring.height() / 2);
    EXPECT_LT(std::abs(edge.blue() - theme::focusRing().blue()) +
                  std::abs(edge.red() - theme::focusRing().red()),
              60)
        << "a ring in the theme's colour where the keyboard is";
    EXPECT_NE(plain.pixelColor(1, plain.height() / 2), edge);
    press(Qt::Key_Return);
    EXPECT_TRUE(store->isFriendHidden("f1"));
    press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(store->isFriendHidden("f1"));
    EXPECT_TRUE(sheet()->isVisible());
    EXPECT_TRUE(visibleWithText(sheet(), "Done")->property("default").toBool())
        << "Done keeps its look";

    // Elsewhere (here the sheet itself), Return means Done.
    sheet()->setFocus();
    press(Qt::Key_Return);
    EXPECT_FALSE(sheet()->isVisible());
    EXPECT_EQ(requestLines(), QStringList({"GET dashboard"})) << "no request was answered";

    openSheet();
    QApplication::setActiveWindow(panel.get());
    press(Qt::Key_Escape);
    EXPECT_FALSE(sheet()->isVisible());
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->isAncestorOf(QApplication::focusWidget()) ||
                QApplication::focusWidget() == panel.get());
    press(Qt::Key_Escape);
    EXPECT_FALSE(panel->isVisible());

    if (isChildRun())
        return;
    const QString gtkTheme =
        QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platformthemes/libqgtk3.so";
    if (!QFileInfo::exists(gtkTheme))
        GTEST_SKIP() << "this Qt has no GTK platform theme (Debian: qt6-gtk-platformtheme)";
    DesktopSession desktop;
    if (!desktop.startX("1280x800"))
        GTEST_SKIP() << "Xvfb did not start (scripts/setup installs it)";
    QProcessEnvironment env = desktop.environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QT_QPA_PLATFORMTHEME", "gtk3");
    env.insert("NO_AT_BRIDGE", "1");
    const ChildRun gtk = runCurrentTestInChild(env);
    EXPECT_EQ(gtk.outcome, ChildRun::Outcome::passed) << gtk.output.toStdString();
}

// What a screen reader hears, read over AT-SPI by a real client (pyatspi), in a child
// run on an X server with session and accessibility buses of its own.
TEST_F(FriendsViewTest, AScreenReaderHearsOneItemPerRowAndNamedButtons) {
    // The system's Python, which python3-pyatspi is installed for (not one that a
    // version manager puts first on the PATH).
    QString python = QStandardPaths::findExecutable("python3", {"/usr/bin"});
    if (python.isEmpty())
        python = QStandardPaths::findExecutable("python3");
    if (!isChildRun()) {
        QProcess probe;
        probe.start(python, {"-c", "import pyatspi"});
        ASSERT_TRUE(probe.waitForFinished(20000) && probe.exitCode() == 0)
            << "python3-pyatspi is missing (scripts/setup installs it)";
        DesktopSession desktop;
        if (!desktop.startX("1280x800"))
            GTEST_SKIP() << "Xvfb did not start (scripts/setup installs it)";
        QProcessEnvironment env = desktop.environment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE"})
            env.remove(name);
        env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        const ChildRun child = runCurrentTestInChild(env, {"dbus-run-session", "--"});
        if (child.outcome == ChildRun::Outcome::skipped)
            GTEST_SKIP() << child.output.toStdString();
        EXPECT_EQ(child.outcome, ChildRun::Outcome::passed) << child.output.toStdString();
        return;
    }

    // The session bus starts the accessibility bus on demand, if it can.
    QProcess bus;
    bus.start("dbus-send", {"--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                            "org.a11y.Bus.GetAddress"});
    if (!bus.waitForFinished(20000) || bus.exitCode() != 0)
        GTEST_SKIP() << "the AT-SPI bus cannot start: "
                     << QString::fromLocal8Bit(bus.readAllStandardError()).toStdString();

    struct Node {
        QString role, name;
        int children, depth;
    };
    // The tree as a screen reader reads it now.
    const auto read = [&] {
        QProcess reader;
        reader.start(python, {VARNO_SOURCE_DIR "/tests/ui/read_accessible_tree.py",
                              QString::number(QCoreApplication::applicationPid()), "30"});
        // The app answers the reader's questions from its event loop.
        waitUntil([&] { return reader.state() == QProcess::NotRunning; }, std::chrono::seconds(40));
        QList<Node> nodes;
        for (const QJsonValue& value :
             QJsonDocument::fromJson(reader.readAllStandardOutput()).array()) {
            const QJsonObject o = value.toObject();
            nodes.append({o["role"].toString(), withoutIsolates(o["name"].toString()),
                          o["children"].toInt(), int(o["path"].toArray().size())});
        }
        EXPECT_FALSE(nodes.isEmpty()) << reader.readAllStandardError().toStdString();
        return nodes;
    };
    const auto named = [](const QList<Node>& nodes, const QString& role) {
        QStringList names;
        for (const Node& node : nodes)
            if (node.role == role)
                names.append(node.name);
        return names;
    };

    openSignedInWith(dashboardWith(
        {person(me.id, me.name, 5'000'000), person("f1", "Alan Turing", 29'941'155),
         person("f2", "Katherine Johnson", 6'426'424), person("f3", "Grace Hopper", 12'345),
         person("f4", "Edsger Dijkstra", 777, false)},
        {{"r1", "Barbara Liskov", true}, {"r2", "Ken Thompson", false}}, "abc"));
    QList<Node> nodes = read();
    // The panel is a named window; the leaderboard one list of one item per row, each
    // read as one sentence with nothing inside (no medal, picture or separate total).
    const auto window =
        std::find_if(nodes.begin(), nodes.end(), [](const Node& n) { return n.depth == 1; });
    ASSERT_NE(window, nodes.end());
    EXPECT_TRUE(window->role == "window" || window->role == "dialog" || window->role == "frame")
        << window->role.toStdString();
    EXPECT_EQ(window->name, "Varno leaderboard");
    EXPECT_EQ(
        named(nodes, "list item"),
        QStringList({"Rank 1, Me (you), 5,000,000 tokens", "Rank 2, Alan Turing, 29,941,155 tokens",
                     "Rank 3, Katherine Johnson, 6,426,424 tokens",
                     "Rank 4, Grace Hopper, 12,345 tokens",
                     "Rank 5, Edsger Dijkstra, no usage synced yet"}));
    EXPECT_TRUE(std::all_of(nodes.begin(), nodes.end(), [](const Node& n) {
        return !n.name.startsWith("Rank ") || n.children == 0;
    }));
    EXPECT_TRUE(std::any_of(nodes.begin(), nodes.end(), [](const Node& n) {
        return n.role == "list" && n.name == "Leaderboard" && n.children == 5;
    }));

    // The friends sheet, a dialog over the panel that hides it: an item per friend and
    // request, a request saying whose it is, and every button named.
    openSheet();
    nodes = read();
    EXPECT_TRUE(named(nodes, "dialog").contains("Friends"));
    EXPECT_EQ(
        named(nodes, "list item"),
        QStringList({"Alan Turing", "Katherine Johnson", "Grace Hopper", "Edsger Dijkstra",
                     "Friend request from Barbara Liskov", "Your friend request to Ken Thompson"}));
    const QStringList buttons = named(nodes, "push button");
    for (const char* name :
         {"Copy invite link", "Done", "Hide friend", "Accept", "Decline", "Cancel"})
        EXPECT_TRUE(buttons.contains(QString::fromUtf8(name))) << name;
    EXPECT_FALSE(buttons.contains(QString())) << "a button without a name";
}

// Quitting closes every window first and gives up at the first one that refuses, so
// the panel must never refuse; Ctrl+Q works from the panel, its sheet and its alert.
TEST_F(FriendsViewTest, QuitEndsTheAppFromThePanelItsSheetOrItsAlert) {
    QWidget tray; // stands in for the tray icon's own window, which quitting closes too
    tray.resize(24, 24);
    const auto ctrlQ = [](QWidget* window) {
        QApplication::setActiveWindow(window);
        QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key_Q,
                        Qt::ControlModifier);
    };
    struct Case {
        const char* name;
        std::function<QWidget*()> open; // the window that has the keyboard
        std::function<void(QWidget*)> quit;
    };
    const Case cases[] = {
        {"the panel's menu item", [&] { return static_cast<QWidget*>(panel.get()); },
         [&](QWidget*) { menu(6); }},
        {"Ctrl+Q in the panel", [&] { return static_cast<QWidget*>(panel.get()); }, ctrlQ},
        {"Ctrl+Q in the sheet",
         [&] {
             openSheet();
             return static_cast<QWidget*>(panel.get());
         },
         ctrlQ},
        {"Ctrl+Q in the alert",
         [&] {
             store->setError("Failed.");
             return static_cast<QWidget*>(view->errorAlert());
         },
         ctrlQ},
        // The tray menu and `varno --dev quit` ask the application to quit directly.
        {"elsewhere, with the sheet and its alert up",
         [&] {
             openSheet();
             store->setError("Failed.");
             return static_cast<QWidget*>(view->errorAlert());
         },
         [](QWidget*) { QCoreApplication::quit(); }},
    };
    for (const Case& c : cases) {
        store->setError(std::nullopt);
        openSignedInWith(dashboardWith(leaderboardOf(3), {}, "abc"));
        tray.show();
        QWidget* focused = c.open();
        ASSERT_NE(focused, nullptr) << c.name;
        QTimer::singleShot(0, focused, [&] { c.quit(focused); });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(3000);
        EXPECT_EQ(QApplication::exec(), 0) << c.name;
        EXPECT_FALSE(tray.isVisible()) << c.name << ": every window was closed";
        EXPECT_FALSE(panel->isVisible()) << c.name;
        EXPECT_FALSE(panel->visibility()->isVisible()) << c.name;
    }
}

} // namespace
} // namespace varno
