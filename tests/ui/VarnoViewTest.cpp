#include "UiHarness.h"

#include "async/Job.h"
#include "ui/LeaderboardRow.h"

#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>

namespace varno {
namespace {

using namespace test;

class VarnoViewTest : public PanelTest {
protected:
    QScrollArea* list() const {
        return qobject_cast<QScrollArea*>(visibleWithAccessibleName(view, "Leaderboard"));
    }
    // The menu's items, "(off)" after disabled ones; triggers the one at `choose`.
    QStringList menu(int choose = -1) {
        QMenu* menu = openMenu();
        QStringList lines;
        for (QAction* a : menu->actions())
            lines.append(a->isSeparator() ? "---" : a->text() + (a->isEnabled() ? "" : " (off)"));
        if (choose >= 0)
            menu->actions().at(choose)->trigger();
        menu->close();
        return lines;
    }
};

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
    ASSERT_TRUE(waitUntil([&] { return browserWaiting; }));
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

TEST_F(VarnoViewTest, HidingAFriendDropsTheRowAndRenumbersTheRest) {
    openSignedInWith(dashboardWith(leaderboardOf(5)));
    store->setFriendHidden("f2", true);
    EXPECT_EQ(ranksAndNames(), QStringList({"Rank 1, Me", "Rank 2, Friend 1", "Rank 3, Friend 3",
                                            "Rank 4, Friend 4"}));
    EXPECT_EQ(visibleTexts(rows()[2]).first(), "🥉");
    EXPECT_EQ(list()->height(), 140);
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
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->windowTitle(), "Varno");
    EXPECT_EQ(alert->text(), "Varno is unavailable.");
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_EQ(alert->parentWidget()->window(), panel.get());
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons().first()->text(), "OK");

    // Closing the panel takes the alert away but keeps the message for the next opening.
    panel->orderOut();
    EXPECT_EQ(view->errorAlert(), nullptr);
    open();
    ASSERT_NE(view->errorAlert(), nullptr);
    click("OK", view->errorAlert());
    EXPECT_FALSE(store->error()) << "OK clears it";
    EXPECT_EQ(view->errorAlert(), nullptr);
    store->setError("Third.");
    ASSERT_NE(view->errorAlert(), nullptr);
    store->setError(std::nullopt);
    EXPECT_EQ(view->errorAlert(), nullptr) << "cleared by the store, it goes";
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

} // namespace
} // namespace varno
