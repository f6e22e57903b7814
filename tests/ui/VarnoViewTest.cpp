#include "UiHarness.h"

#include "async/Job.h"

#include "ui/GlassPanel.h"
#include "ui/LeaderboardRow.h"
#include "ui/VarnoView.h"

#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace varno {
namespace {

using namespace test;

// A panel holding the main view, as the app builds it.
class VarnoViewTest : public ::testing::Test {
protected:
    VarnoViewTest() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    ~VarnoViewTest() override {
        // Let every task of the store end before the fakes it uses go away.
        if (panel)
            panel->orderOut();
        harness.holdRequests = false;
        waitUntil([&] { return !harness.store->busy(); });
        panel.reset();
        QLocale::setDefault(QLocale::system());
    }

    void build() {
        panel = std::make_unique<GlassPanel>([this](PanelVisibility* visibility) {
            view = new VarnoView(harness.store.get(), actions, &avatars);
            QObject::connect(visibility, &PanelVisibility::isVisibleChanged, view,
                             &VarnoView::setRefreshEnabled);
            return view;
        });
    }
    void open() {
        if (!panel)
            build();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        panel->showRelativeTo(QRect(screen.right() - 40, screen.top(), 24, 24));
        ASSERT_TRUE(waitUntil([&] { return view->isVisible(); }));
    }
    // Signed in and open, with the server giving this leaderboard.
    void openSignedInWith(QList<LeaderboardEntry> rows) {
        harness.serverDashboard = dashboardWith(rows);
        harness.signIn();
        harness.store->setDashboard(harness.serverDashboard);
        open();
        ASSERT_TRUE(waitUntil([&] { return !harness.store->busy(); }));
    }

    QList<QWidget*> rows() const {
        QList<QWidget*> found;
        for (QWidget* w : visibleChildren(view))
            if (w->accessibleName().startsWith(QLatin1String("Rank ")))
                found.append(w);
        return found;
    }
    QScrollArea* list() const {
        return qobject_cast<QScrollArea*>(visibleWithAccessibleName(view, "Leaderboard"));
    }
    QMenu* openMenu() {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                                view->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(view, &event);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return menu;
    }
    static QStringList menuLines(QMenu* menu) {
        QStringList lines;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator())
                lines.append("---");
            else
                lines.append(action->text() + (action->isEnabled() ? "" : " (disabled)"));
        }
        return lines;
    }

    UiHarness harness;
    int fetches = 0;
    AvatarLoader avatars{[this](QUrl, std::stop_token) -> QCoro::Task<QByteArray> {
        ++fetches;
        throw std::runtime_error("offline");
        co_return QByteArray();
    }};
    VarnoViewActions actions;
    std::unique_ptr<GlassPanel> panel;
    VarnoView* view = nullptr;
};

TEST_F(VarnoViewTest, SignedOutIdleShowsTheSignInCard) {
    int signIns = 0;
    actions.signIn = [&] { ++signIns; };
    open();
    EXPECT_EQ(visibleTexts(view), QStringList({"Leaderboard", "Sign in with GitHub"}));
    EXPECT_EQ(panel->contentSize().width(), 280);
    QTest::mouseClick(visibleWithText(view, "Sign in with GitHub"), Qt::LeftButton);
    EXPECT_EQ(signIns, 1);
    EXPECT_FALSE(harness.store->busy()) << "the controller's action replaces the store's";
}

TEST_F(VarnoViewTest, RestoringShowsOnlyTheProgress) {
    harness.store->setBusy(true);
    open();
    EXPECT_EQ(visibleTexts(view), QStringList({"Leaderboard", "Restoring your sign-in…"}));
    EXPECT_NE(visibleWithAccessibleName(view, "Progress"), nullptr);
    harness.store->setBusy(false);
    EXPECT_EQ(visibleTexts(view), QStringList({"Leaderboard", "Sign in with GitHub"}));
}

TEST_F(VarnoViewTest, WaitingForTheBrowserOffersCancel) {
    // Without a controller the view runs the sign-in itself, and cancels it itself.
    open();
    QTest::mouseClick(visibleWithText(view, "Sign in with GitHub"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return harness.browserWaiting; }));
    EXPECT_EQ(visibleTexts(view),
              QStringList({"Leaderboard", "Restoring your sign-in…", "Cancel"}));
    QTest::mouseClick(visibleWithText(view, "Cancel"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !harness.store->busy(); }));
    EXPECT_EQ(visibleTexts(view), QStringList({"Leaderboard", "Sign in with GitHub"}));
    EXPECT_FALSE(harness.store->error().has_value()) << "a cancelled sign-in says nothing";
    QApplication::processEvents();
    EXPECT_EQ(visibleWindow<QMessageBox>(), nullptr);
}

TEST_F(VarnoViewTest, CancelGoesToTheControllerWhenItRunsTheSignIn) {
    int cancels = 0;
    actions.cancelSignIn = [&] { ++cancels; };
    open();
    harness.store->setBusy(true);
    EXPECT_EQ(visibleWithText(view, "Cancel"), nullptr) << "restoring cannot be cancelled";
    // The store's own sign-in flags the wait; here it runs in a job of the test.
    harness.store->setBusy(false);
    auto job = Job::start([store = harness.store.get()](std::stop_token token) {
        return store->loginWithGitHub(token);
    });
    ASSERT_TRUE(waitUntil([&] { return harness.browserWaiting; }));
    QTest::mouseClick(visibleWithText(view, "Cancel"), Qt::LeftButton);
    EXPECT_EQ(cancels, 1);
    job->cancel();
    ASSERT_TRUE(waitUntil([&] { return job->isFinished(); }));
}

TEST_F(VarnoViewTest, SignedInWithoutADashboardShowsLoading) {
    harness.signIn();
    harness.holdRequests = true; // the panel's refresh does not get its answer
    open();
    EXPECT_EQ(visibleTexts(view), QStringList({"Leaderboard", "Tokens"}));
    EXPECT_NE(visibleWithAccessibleName(view, "Loading"), nullptr);
    EXPECT_EQ(list(), nullptr);
    EXPECT_EQ(panel->contentSize().width(), 320) << "the panel follows the card it shows";
}

TEST_F(VarnoViewTest, AnEmptyLeaderboardSaysSo) {
    openSignedInWith({});
    EXPECT_EQ(visibleTexts(view), QStringList({"Leaderboard", "Tokens", "No usage yet"}));
    EXPECT_EQ(visibleWithAccessibleName(view, "Loading"), nullptr);
}

TEST_F(VarnoViewTest, RowsShowMedalsThenRanksAndTheListHeightFollowsTheCount) {
    struct Case {
        int people;
        int height;
        bool scrolls;
    };
    for (const Case c : {Case{1, 32, false}, Case{3, 104, false}, Case{4, 140, false},
                         Case{10, 356, false}, Case{12, 356, true}}) {
        harness.serverDashboard = dashboardWith(leaderboardOf(c.people));
        harness.signIn();
        harness.store->setDashboard(harness.serverDashboard);
        if (!view)
            open();
        ASSERT_TRUE(waitUntil([&] { return !harness.store->busy(); }));
        QApplication::processEvents();
        const QList<QWidget*> shown = rows();
        ASSERT_EQ(shown.size(), c.people) << c.people;
        ASSERT_NE(list(), nullptr);
        EXPECT_EQ(list()->height(), c.height) << c.people;
        EXPECT_EQ(list()->verticalScrollBar()->maximum() > 0, c.scrolls) << c.people;
        for (QWidget* row : shown)
            EXPECT_EQ(row->height(), 32);
        if (c.people > 1) {
            EXPECT_EQ(shown[1]->y() - shown[0]->y(), 36) << "rows are 4 apart";
        }

        QStringList markers;
        for (QWidget* row : shown)
            markers.append(visibleTexts(row).first());
        const QStringList medals = {"🥇", "🥈", "🥉"};
        for (int i = 0; i < c.people; ++i)
            EXPECT_EQ(markers[i], i < 3 ? medals[i] : QString::number(i + 1)) << c.people;
    }
}

TEST_F(VarnoViewTest, ARowShowsTheCompactTotalWithHelpAndOneAccessibleLabel) {
    QList<LeaderboardEntry> rows = leaderboardOf(3);
    rows.append(person("f9", "Dana", 12345));
    rows.append(person("f10", "Eve", 1234567));
    // Never synced: a dash, whatever the total says.
    rows.append(person("f11", "Finn", 777, false));
    openSignedInWith(rows);
    const QList<QWidget*> shown = this->rows();
    ASSERT_EQ(shown.size(), 6);

    EXPECT_EQ(visibleTexts(shown[3]), QStringList({"4", "Dana", "12.3K"}));
    EXPECT_EQ(shown[3]->accessibleName(), "Rank 4, Dana, 12,345 tokens");
    EXPECT_EQ(visibleWithText<QLabel>(shown[4], "1.23M")->toolTip(),
              "1,234,567 tokens · Last 30 days");

    EXPECT_EQ(visibleTexts(shown[5]), QStringList({"6", "Finn", "—"}));
    EXPECT_EQ(visibleWithText<QLabel>(shown[5], "—")->toolTip(), "No usage synced yet");
    EXPECT_EQ(shown[5]->accessibleName(), "Rank 6, Finn, no usage synced yet");
}

TEST_F(VarnoViewTest, RanksAndHelpFollowTheUsersLocale) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    LeaderboardEntry entry = person("f1", "Jo", 1234567);
    EXPECT_EQ(LeaderboardRow::totalHelp(entry), "1.234.567 tokens · Last 30 days");
    EXPECT_EQ(LeaderboardRow::accessibleLabel(entry, 3), "Rank 4, Jo, 1.234.567 tokens");
    EXPECT_EQ(LeaderboardRow::placeMarker(1233), "1.234");
    // The compact total is always in the English notation.
    EXPECT_EQ(LeaderboardRow::totalText(entry), "1.23M");
}

TEST_F(VarnoViewTest, HidingAFriendDropsTheRowAndRenumbersTheRest) {
    openSignedInWith(leaderboardOf(5));
    harness.store->setFriendHidden("f2", true);
    QStringList names;
    for (QWidget* row : rows())
        names.append(row->accessibleName().section(", ", 0, 1));
    EXPECT_EQ(names, QStringList({"Rank 1, Me", "Rank 2, Friend 1", "Rank 3, Friend 3",
                                  "Rank 4, Friend 4"}));
    EXPECT_EQ(visibleTexts(rows()[2]).first(), "🥉");
    EXPECT_EQ(list()->height(), 140);
}

TEST_F(VarnoViewTest, AvatarsStayPlaceholdersWhenTheyCannotBeLoaded) {
    QList<LeaderboardEntry> rows = leaderboardOf(1);
    rows.append(person("f1", "A", 10, true, QStringLiteral("https://img.test/a.png")));
    rows.append(person("f2", "B", 10, true, QStringLiteral("not a url")));
    rows.append(person("f3", "C", 10, true, QStringLiteral("file:///etc/passwd")));
    openSignedInWith(rows);
    EXPECT_TRUE(waitUntil([&] { return avatars.loadsInFlight() == 0; }));
    EXPECT_EQ(fetches, 1) << "only the web address is fetched";
    EXPECT_EQ(this->rows().size(), 4);
}

TEST_F(VarnoViewTest, TheMenuFollowsTheSessionAndTheBusyFlag) {
    open();
    QMenu* menu = openMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menuLines(menu), QStringList({"Quit Varno"}));
    EXPECT_EQ(menu->actions().last()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    menu->close();

    harness.signIn();
    harness.store->setDashboard(dashboardWith(leaderboardOf(2)));
    ASSERT_TRUE(waitUntil([&] { return !harness.store->busy(); }));
    menu = openMenu();
    EXPECT_EQ(menuLines(menu),
              QStringList({"Sync usage", "Friends", "---", "Sign out", "---", "Quit Varno"}));
    menu->close();

    harness.store->setBusy(true);
    menu = openMenu();
    EXPECT_EQ(menuLines(menu), QStringList({"Sync usage (disabled)", "Friends", "---",
                                            "Sign out (disabled)", "---", "Quit Varno"}));
    menu->close();
    harness.store->setBusy(false);
}

TEST_F(VarnoViewTest, MenuItemsRunTheirOperations) {
    int quits = 0;
    actions.quit = [&] { ++quits; };
    openSignedInWith(leaderboardOf(2));

    QMenu* menu = openMenu();
    menu->actions().at(0)->trigger(); // Sync usage
    menu->close();
    ASSERT_TRUE(waitUntil([&] { return !harness.store->busy(); }));
    EXPECT_EQ(harness.requestLines().filter("usage").size(), 1) << harness.requestLines().join("|");

    menu = openMenu();
    menu->actions().last()->trigger(); // Quit Varno
    menu->close();
    EXPECT_EQ(quits, 1);

    menu = openMenu();
    menu->actions().at(3)->trigger(); // Sign out
    menu->close();
    ASSERT_TRUE(waitUntil([&] { return !harness.store->session(); }));
    EXPECT_TRUE(harness.requestLines().contains("POST auth/logout"));
    EXPECT_EQ(visibleTexts(view), QStringList({"Leaderboard", "Sign in with GitHub"}));
}

TEST_F(VarnoViewTest, TheErrorShowsInAnAlertOnThePanelUntilDismissed) {
    open();
    harness.store->setError(QStringLiteral("Varno is unavailable."));
    QMessageBox* alert = view->errorAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->windowTitle(), "Varno");
    EXPECT_EQ(alert->text(), "Varno is unavailable.");
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_EQ(alert->parentWidget()->window(), panel.get());
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons().first()->text(), "OK");

    // A newer message replaces the text; the alert keeps the panel open.
    harness.store->setError(QStringLiteral("Second."));
    EXPECT_EQ(alert->text(), "Second.");
    QTest::mouseClick(alert, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_TRUE(panel->isVisible());

    QTest::mouseClick(alert->buttons().first(), Qt::LeftButton);
    EXPECT_FALSE(harness.store->error().has_value());
    EXPECT_EQ(view->errorAlert(), nullptr);

    // Dismissed with Escape: the same.
    harness.store->setError(QStringLiteral("Third."));
    ASSERT_NE(view->errorAlert(), nullptr);
    QTest::keyClick(view->errorAlert(), Qt::Key_Escape);
    EXPECT_FALSE(harness.store->error().has_value());
}

TEST_F(VarnoViewTest, AnErrorWhileClosedWaitsForThePanelAndGoesWhenCleared) {
    build();
    harness.store->setError(QStringLiteral("Later."));
    EXPECT_EQ(view->errorAlert(), nullptr);
    open();
    ASSERT_NE(view->errorAlert(), nullptr);
    EXPECT_EQ(view->errorAlert()->text(), "Later.");

    // Closing the panel takes the alert away but keeps the message for the next opening.
    panel->orderOut();
    EXPECT_EQ(view->errorAlert(), nullptr);
    EXPECT_EQ(harness.store->error(), std::optional<QString>("Later."));
    open();
    ASSERT_NE(view->errorAlert(), nullptr);

    // Cleared by the store (a new sync starting): the alert goes.
    harness.store->setError(std::nullopt);
    EXPECT_EQ(view->errorAlert(), nullptr);
}

TEST_F(VarnoViewTest, ThePanelRefreshesWithoutUploadWhileOpenAndStopsWhenClosed) {
    harness.signIn();
    open();
    ASSERT_TRUE(waitUntil([&] { return harness.store->dashboard().has_value(); }));
    EXPECT_TRUE(waitUntil([&] { return !harness.store->busy(); }));
    EXPECT_EQ(harness.requestLines().size(), 1);
    EXPECT_TRUE(harness.requestLines().first().startsWith("GET dashboard"));
    EXPECT_EQ(harness.readings, 1);
    EXPECT_EQ(rows().size(), 2);

    // The same user assigned again: same key, no new refresh.
    harness.signIn();
    QApplication::processEvents();
    EXPECT_EQ(harness.requestLines().size(), 1);

    // Another user: a new refresh.
    harness.signIn(User{"u-other", "Other", "o@example.com"});
    ASSERT_TRUE(waitUntil([&] { return harness.requestLines().size() == 2; }));
    ASSERT_TRUE(waitUntil([&] { return !harness.store->busy(); }));

    // Closing cancels an unfinished refresh, quietly.
    panel->orderOut();
    harness.holdRequests = true;
    open();
    ASSERT_TRUE(waitUntil([&] { return harness.requestLines().size() == 3; }));
    panel->orderOut();
    ASSERT_TRUE(waitUntil([&] { return !harness.store->busy(); }));
    EXPECT_EQ(harness.cancelledRequests, 1);
    EXPECT_FALSE(harness.store->error().has_value());
    harness.holdRequests = false;
}

TEST_F(VarnoViewTest, NoRefreshWhileSignedOut) {
    open();
    QApplication::processEvents();
    EXPECT_TRUE(harness.requests.isEmpty());
    EXPECT_EQ(harness.readings, 0);
}

} // namespace
} // namespace varno
