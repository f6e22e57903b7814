#include "UiHarness.h"

#include "async/Job.h"
#include "ui/GlassSheet.h"
#include "ui/LeaderboardRow.h"

#include "support/ChildRun.h"
#include "support/VirtualDisplay.h"

#include <QClipboard>
#include <QDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTimer>
#include <QToolTip>

#include <cmath>

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

    // Rows of 32 with 4 between them; the list shows at most 10 and scrolls the rest.
    const QStringList medals = {"🥇", "🥈", "🥉"};
    for (const auto& [people, height] :
         {std::pair{1, 32}, {3, 104}, {4, 140}, {10, 356}, {12, 356}}) {
        store->setDashboard(dashboardWith(leaderboardOf(people)));
        QApplication::processEvents();
        const QList<QWidget*> shown = rows();
        ASSERT_EQ(shown.size(), people);
        ASSERT_NE(list(), nullptr);
        EXPECT_EQ(list()->height(), height) << people;
        EXPECT_EQ(list()->verticalScrollBar()->maximum() > 0, people > 10) << people;
        for (int i = 0; i < people; ++i) {
            EXPECT_EQ(shown[i]->height(), 32);
            EXPECT_EQ(shown[i]->y() - shown[0]->y(), 36 * i) << people << " row " << i;
            EXPECT_EQ(visibleTexts(shown[i]).first(), i < 3 ? medals[i] : QString::number(i + 1));
        }
    }
}

TEST_F(VarnoViewTest, ARowShowsTheCompactTotalWithHelpAndOneAccessibleLabel) {
    QList<LeaderboardEntry> rows = leaderboardOf(3);
    rows.append(person("f9", "Dana", 12345, true, "https://img.test/a.png"));
    rows.append(person("f10", "Eve", 1234567, true, "file:///etc/passwd"));
    rows.append(person("f11", "Finn", 777, false)); // never synced: a dash, whatever the total
    openSignedInWith(dashboardWith(rows));
    const QList<QWidget*> shown = this->rows();
    ASSERT_EQ(shown.size(), 6);
    EXPECT_EQ(visibleTexts(shown[3]), QStringList({"4", "Dana", "12.3K"}));
    EXPECT_EQ(shown[3]->accessibleName(), "Rank 4, Dana, 12,345 tokens");
    EXPECT_EQ(visibleWithText<QLabel>(shown[4], "1.23M")->toolTip(),
              "1,234,567 tokens · Last 30 days");
    EXPECT_EQ(visibleTexts(shown[5]), QStringList({"6", "Finn", "—"}));
    EXPECT_EQ(visibleWithText<QLabel>(shown[5], "—")->toolTip(), "No usage synced yet");
    EXPECT_EQ(shown[5]->accessibleName(), "Rank 6, Finn, no usage synced yet");
    EXPECT_TRUE(waitUntil([&] { return avatars.loadsInFlight() == 0; }));
    EXPECT_EQ(fetches, 1) << "only the web address is fetched";

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(LeaderboardRow::totalHelp(rows[4]), "1.234.567 tokens · Last 30 days");
    EXPECT_EQ(LeaderboardRow::accessibleLabel(rows[4], 4), "Rank 5, Eve, 1.234.567 tokens");
    EXPECT_EQ(LeaderboardRow::placeMarker(1233), "1.234");
    EXPECT_EQ(LeaderboardRow::totalText(rows[4]), "1.23M") << "compact totals stay English";
}

TEST_F(VarnoViewTest, TheMenuFollowsTheSessionAndTheBusyFlagAndRunsItsItems) {
    int quits = 0;
    actions.quit = [&] { ++quits; };
    open();
    EXPECT_EQ(menu(0), QStringList({"Quit Varno"}));
    EXPECT_EQ(quits, 1);

    signIn();
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_EQ(menu(),
              QStringList({"Sync usage", "Friends", "---", "Sign out", "---", "Quit Varno"}));
    store->setBusy(true);
    EXPECT_EQ(menu(), QStringList({"Sync usage (off)", "Friends", "---", "Sign out (off)", "---",
                                   "Quit Varno"}));
    store->setBusy(false);

    menu(0); // Sync usage: read and upload
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_EQ(requestLines().filter("usage").size(), 1) << requestLines().join("|");
    menu(3); // Sign out
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
    ASSERT_TRUE(waitUntil([&] { return rows().size() == 2 && !store->busy(); }));
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
    const auto luminance = [](QRgb c) {
        const auto channel = [](int v) {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
    };
    const QPalette original = QApplication::palette();
    QPalette dark = original; // the tool tip's own colours stay as they are
    dark.setColor(QPalette::Window, QColor(40, 40, 44));
    dark.setColor(QPalette::WindowText, QColor(240, 240, 240));
    for (const auto& [name, palette] : {std::pair{"light", original}, std::pair{"dark", dark}}) {
        QApplication::setPalette(palette);
        panel.reset(); // the view takes its colours when it is built
        openSignedInWith(dashboardWith(leaderboardOf(2)));
        QLabel* total = visibleWithText<QLabel>(rows().first(), "5M");
        ASSERT_NE(total, nullptr);
        QToolTip::showText(total->mapToGlobal(QPoint(2, 2)), total->toolTip(), total);
        QWidget* tip = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->inherits("QTipLabel"))
                tip = w;
        ASSERT_NE(tip, nullptr);
        const QImage image = tip->grab().toImage();
        // The most distant colour from the background is the text's.
        const QRgb background = image.pixel(image.width() / 2, 2);
        double text = luminance(background);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (std::abs(luminance(image.pixel(x, y)) - luminance(background)) >
                    std::abs(text - luminance(background)))
                    text = luminance(image.pixel(x, y));
        const double lighter = std::max(text, luminance(background));
        const double darker = std::min(text, luminance(background));
        EXPECT_GE((lighter + 0.05) / (darker + 0.05), 4.5) << name << " palette";
        QToolTip::hideText();
    }
    QApplication::setPalette(original);
}

// A sync changes rows in place: the list keeps its scroll position and the row under
// the pointer. While the pointer is over the list, the new order waits for it to leave.
TEST_F(VarnoViewTest, ASyncUpdatesRowsInPlaceAndHoldsTheOrderUnderThePointer) {
    QList<LeaderboardEntry> people = leaderboardOf(15);
    openSignedInWith(dashboardWith(people));
    QScrollBar* scroll = list()->verticalScrollBar();
    scroll->setValue(3 * 36);
    const QPoint point(100, 50); // over the fifth row, Friend 4
    ASSERT_TRUE(rowNameAt(list(), point).startsWith("Rank 5, Friend 4,"));
    QWidget* friend4 = rowAt(list(), point);

    // The user's own total changes with every sync.
    people[0].total += 1234;
    serverDashboard = dashboardWith(people);
    awaitTask(store->refresh(true));
    EXPECT_EQ(scroll->value(), 3 * 36);
    EXPECT_EQ(rowAt(list(), point), friend4) << "the same row, neither rebuilt nor moved";
    EXPECT_EQ(rows().first()->accessibleName(), "Rank 1, Me, 5,001,234 tokens");

    // With the pointer on Friend 4, a sync that reorders: Friend 4 drops to the end,
    // Friend 9 climbs, Friend 3 leaves and a newcomer arrives.
    movePointer(list()->viewport(), point);
    ASSERT_TRUE(list()->viewport()->underMouse());
    QList<LeaderboardEntry> next = people;
    LeaderboardEntry dropped = next.takeAt(4);
    dropped.total = 10;
    next.append(dropped);
    next.move(9, 1);
    next.removeIf([](const LeaderboardEntry& e) { return e.id == "f3"; });
    next.append(person("f99", "Newcomer", 5));
    serverDashboard = dashboardWith(next);
    awaitTask(store->refresh(true));
    EXPECT_EQ(scroll->value(), 3 * 36);
    EXPECT_EQ(rowAt(list(), point), friend4);
    EXPECT_EQ(friend4->accessibleName(), "Rank 5, Friend 4, 10 tokens") << "its total is new";
    QStringList held = ranksAndNames();
    EXPECT_EQ(held.mid(0, 5), QStringList({"Rank 1, Me", "Rank 2, Friend 1", "Rank 3, Friend 2",
                                           "Rank 4, Friend 3", "Rank 5, Friend 4"}));
    EXPECT_EQ(held.last(), "Rank 16, Newcomer") << "a newcomer joins at the end";
    EXPECT_FALSE(rows()[3]->isEnabled()) << "a row that is gone waits, disabled";

    // Once the pointer leaves, the list takes the server's order.
    movePointer(view, QPoint(5, 5));
    QStringList expected;
    for (int i = 0; i < next.size(); ++i)
        expected.append(QString("Rank %1, %2").arg(i + 1).arg(next[i].name));
    EXPECT_TRUE(waitUntil([&] { return ranksAndNames() == expected; }))
        << ranksAndNames().join("|");
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
    QWidget* rowOf(const QString& name) const { return visibleWithAccessibleName(sheet(), name); }
    const QStringList header{"Friends", "Copy invite link", "Done"};
};

TEST_F(FriendsViewTest, TheSheetIsAWindowModalCardThatComesAndGoesWithThePanel) {
    openSheetWith(dashboardWith(leaderboardOf(2), {}, "code 7"));
    EXPECT_EQ(sheet()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet()->parentWidget()->window(), panel.get());
    EXPECT_EQ(sheet()->cardGeometry().left(), panel->cardGeometry().left()) << "it covers it";
    EXPECT_EQ(sheet()->cardGeometry().width(), panel->cardGeometry().width());
    EXPECT_EQ(sheet()->cardGeometry().top(), panel->cardGeometry().top());
    EXPECT_TRUE(panel->isVisible()) << "the sheet taking the focus keeps the panel open";
    EXPECT_TRUE(visibleWithText(sheet(), "Done")->property("default").toBool());

    click("Copy invite link", sheet());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "https://varno.app/?r=code%207");
    click("Copied", sheet());
    EXPECT_NE(visibleWithText(sheet(), "Copied"), nullptr) << "copying again keeps the label";

    panel->orderOut();
    EXPECT_FALSE(sheet()->isVisible());
    panel->showRelativeTo(anchor());
    ASSERT_TRUE(waitUntil([&] { return sheet()->isVisible(); }));
    click("Done", sheet());
    EXPECT_FALSE(sheet()->isVisible());
    openSheet();
    EXPECT_EQ(visibleTexts(sheet()).mid(0, 3), header) << "shown again, the label starts over";
    QTest::keyClick(sheet(), Qt::Key_Escape);
    EXPECT_FALSE(sheet()->isVisible());
    openSheet();
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
    EXPECT_EQ(ranksAndNames(), QStringList({"Rank 1, Me", "Rank 2, Friend 2"}));
    EXPECT_EQ(list()->height(), 68) << "the list shrinks with it";
    click("Show friend", rowOf("Friend 1"));
    EXPECT_EQ(ranksAndNames(), QStringList({"Rank 1, Me", "Rank 2, Friend 1", "Rank 3, Friend 2"}));
    EXPECT_NE(visibleWithText(rowOf("Friend 1"), "Hide friend"), nullptr);

    // A long list scrolls within 240, and the sheet grows with it.
    const int shortHeight = sheet()->content()->height();
    store->setDashboard(dashboardWith(leaderboardOf(30)));
    EXPECT_EQ(visibleChildren<QScrollArea>(sheet()).value(0)->height(), 240);
    EXPECT_TRUE(waitUntil([&] { return sheet()->content()->height() > shortHeight + 60; }));
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

// Hide, Show, a sync, Accept, Decline and Cancel with the pointer over the list: no
// row moves under it, except when its own answer removes the request's row.
TEST_F(FriendsViewTest, RowsHoldStillUnderThePointerExceptTheOneItsAnswerRemoves) {
    Dashboard dashboard = dashboardWith(
        leaderboardOf(8), {{"r1", "Ann", true}, {"r2", "Bo", true}, {"r3", "Cy", false}}, "abc");
    openSheetWith(dashboard);
    auto* list = visibleChildren<QScrollArea>(sheet()).value(0);
    ASSERT_NE(list, nullptr);
    QScrollBar* scroll = list->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0) << "ten rows scroll within 240";
    scroll->setValue(scroll->maximum());
    const int bottom = scroll->value();
    const auto button = [&](const QString& name, const QString& text) {
        QWidget* row = rowOf(name);
        return row ? visibleWithText(row, text) : nullptr;
    };
    const auto where = [&](const QString& name, const QString& text) {
        QAbstractButton* target = button(name, text);
        return target ? target->mapTo(list->viewport(), target->rect().center()) : QPoint();
    };
    const auto y = [&](const QString& name) {
        return rowOf(name) ? rowOf(name)->mapTo(list->viewport(), QPoint()).y() : -1;
    };

    // Hide and Show flip the button in place, at a constant width.
    const QPoint hide = where("Friend 6", "Hide friend");
    const QRect before = button("Friend 6", "Hide friend")->geometry();
    movePointer(list->viewport(), hide);
    QTest::mouseClick(list->viewport()->childAt(hide), Qt::LeftButton);
    QAbstractButton* shown = button("Friend 6", "Show friend");
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->geometry(), before);
    EXPECT_EQ(rowNameAt(list, hide), "Friend 6");
    QTest::mouseClick(shown, Qt::LeftButton);
    EXPECT_EQ(rowNameAt(list, hide), "Friend 6");
    EXPECT_NE(button("Friend 6", "Hide friend"), nullptr);

    // A sync that reorders the friends: nothing moves while the pointer is here.
    ASSERT_TRUE(list->viewport()->underMouse());
    dashboard.leaderboard.move(6, 1); // Friend 6 climbs
    store->setDashboard(dashboard);
    EXPECT_EQ(scroll->value(), bottom);
    EXPECT_EQ(rowNameAt(list, hide), "Friend 6");

    // Each answer removes its own row; the rows above it stay where they were.
    struct Answer {
        QString name, button, request;
    } answers[] = {{"Ann", "Accept", "PATCH friends/r1"},
                   {"Bo", "Decline", "DELETE friends/r2"},
                   {"Cy", "Cancel", "DELETE friends/r3"}};
    for (const Answer& a : answers) {
        dashboard.requests.removeFirst();
        if (a.button == "Accept")
            dashboard.leaderboard.append(person("ann", "Ann", 1));
        serverDashboard = dashboard;
        const int friend6 = y("Friend 6");
        const QPoint at = where(a.name, a.button);
        movePointer(list->viewport(), at);
        QTest::mouseClick(list->viewport()->childAt(at), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
        EXPECT_TRUE(requestLines().contains(a.request)) << a.name;
        EXPECT_EQ(button(a.name, a.button), nullptr) << a.name << "'s request";
        EXPECT_EQ(y("Friend 6"), friend6) << a.name;
    }
    EXPECT_NE(button("Ann", "Hide friend"), nullptr) << "Ann is a friend now";

    // Away from the list, it takes the server's order.
    movePointerAway();
    EXPECT_TRUE(waitUntil([&] { return y("Friend 6") < y("Friend 1"); }));
}

// Return ends the sheet whichever button has the focus: with Qt's own theme here, and
// again in a child process with GTK's, which makes Return press the focused button.
TEST_F(FriendsViewTest, ReturnPressesDoneWhicheverButtonHasTheFocus) {
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
    for (const QString focus : {"Copy invite link", "Hide friend", "Decline"}) {
        if (!sheet()->isVisible())
            openSheet();
        QApplication::setActiveWindow(sheet());
        QAbstractButton* button = visibleWithText(sheet(), focus);
        ASSERT_NE(button, nullptr) << focus;
        button->setFocus();
        ASSERT_TRUE(waitUntil([&] { return button->hasFocus(); })) << focus;
        QTest::keyClick(button, Qt::Key_Return);
        EXPECT_FALSE(sheet()->isVisible()) << focus << " had the focus";
    }
    EXPECT_EQ(requestLines(), QStringList({"GET dashboard"})) << "no request was answered";
    EXPECT_EQ(store->isFriendHidden("f1"), false);
    openSheet();
    EXPECT_NE(visibleWithText(sheet(), "Copy invite link"), nullptr) << "nothing was copied";

    if (isChildRun())
        return;
    const QString gtkTheme =
        QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platformthemes/libqgtk3.so";
    if (!QFileInfo::exists(gtkTheme))
        GTEST_SKIP() << "this Qt has no GTK platform theme (Debian: qt6-gtk-platformtheme)";
    VirtualDisplay display;
    if (!display.isRunning())
        GTEST_SKIP() << display.error().toStdString();
    QProcessEnvironment env = display.environment();
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
        VirtualDisplay display;
        if (!display.isRunning())
            GTEST_SKIP() << display.error().toStdString();
        QProcessEnvironment env = display.environment();
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

    openSheetWith(dashboardWith(
        {person(me.id, me.name, 5'000'000), person("f1", "Alan Turing", 29'941'155),
         person("f2", "Katherine Johnson", 6'426'424), person("f3", "Grace Hopper", 12'345),
         person("f4", "Edsger Dijkstra", 777, false)},
        {{"r1", "Barbara Liskov", true}, {"r2", "Ken Thompson", false}}, "abc"));
    QProcess reader;
    reader.start(python, {VARNO_SOURCE_DIR "/tests/ui/read_accessible_tree.py",
                          QString::number(QCoreApplication::applicationPid()), "30"});
    // The app answers the reader's questions from its event loop.
    ASSERT_TRUE(waitUntil([&] { return reader.state() == QProcess::NotRunning; },
                          std::chrono::seconds(40)));
    const QJsonArray tree = QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
    ASSERT_FALSE(tree.isEmpty()) << reader.readAllStandardError().toStdString();

    struct Node {
        QString role, name;
        int children;
    };
    QList<Node> nodes;
    for (const QJsonValue& value : tree) {
        const QJsonObject o = value.toObject();
        nodes.append({o["role"].toString(), o["name"].toString(), o["children"].toInt()});
    }
    const auto named = [&](const QString& role) {
        QStringList names;
        for (const Node& node : nodes)
            if (node.role == role)
                names.append(node.name);
        return names;
    };
    // The leaderboard: one list of one item per row, each read as one sentence, with
    // nothing inside (no medal, picture or separate total).
    const QStringList board{
        "Rank 1, Me, 5,000,000 tokens", "Rank 2, Alan Turing, 29,941,155 tokens",
        "Rank 3, Katherine Johnson, 6,426,424 tokens", "Rank 4, Grace Hopper, 12,345 tokens",
        "Rank 5, Edsger Dijkstra, no usage synced yet"};
    const QStringList items = named("list item");
    EXPECT_EQ(items.mid(0, 5), board);
    for (const Node& node : nodes) {
        if (node.name.startsWith("Rank ")) {
            EXPECT_EQ(node.children, 0) << node.name;
        }
    }
    EXPECT_TRUE(std::any_of(nodes.begin(), nodes.end(), [](const Node& n) {
        return n.role == "list" && n.name == "Leaderboard" && n.children == 5;
    }));
    // The friends sheet: an item per friend and request, and every button named.
    EXPECT_EQ(items.mid(5), QStringList({"Alan Turing", "Katherine Johnson", "Grace Hopper",
                                         "Edsger Dijkstra", "Barbara Liskov", "Ken Thompson"}));
    const QStringList buttons = named("push button");
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
         [&](QWidget*) { menu(5); }},
        {"Ctrl+Q in the panel", [&] { return static_cast<QWidget*>(panel.get()); }, ctrlQ},
        {"Ctrl+Q in the sheet",
         [&] {
             openSheet();
             return static_cast<QWidget*>(sheet());
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
