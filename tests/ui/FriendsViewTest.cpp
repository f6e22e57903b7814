#include "UiHarness.h"

#include "ui/GlassSheet.h"

#include <QClipboard>
#include <QScrollArea>

namespace varno {
namespace {

using namespace test;

FriendRequest request(const QString& id, const QString& name, bool incoming,
                      bool accepted = false) {
    return FriendRequest{id, name, incoming, accepted};
}

// The friends sheet as the main view opens it, on the panel.
class FriendsViewTest : public PanelTest {
protected:
    void openSheetWith(std::optional<Dashboard> dashboard) {
        openSignedInWith(std::move(dashboard));
        openSheet();
    }
    void openSheet() { // "Friends" from the panel's menu
        QMenu* menu = openMenu();
        ASSERT_NE(menu, nullptr);
        menu->actions().at(1)->trigger();
        menu->close();
        ASSERT_TRUE(waitUntil([&] { return sheet() && sheet()->isVisible(); }));
    }
    GlassSheet* sheet() const { return view->friendsSheet(); }
    QWidget* rowOf(const QString& name) const { return visibleWithAccessibleName(sheet(), name); }
    const QStringList header{"Friends", "Copy invite link", "Done"};
};

TEST_F(FriendsViewTest, TheSheetIsAWindowModalCardThatComesAndGoesWithThePanel) {
    openSheetWith(dashboardWith(leaderboardOf(2), {}, "code 7"));
    EXPECT_TRUE(view->showsFriends());
    EXPECT_EQ(sheet()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet()->parentWidget()->window(), panel.get());
    EXPECT_EQ(sheet()->content()->width(), 360);
    EXPECT_EQ(sheet()->cardGeometry().top(), panel->cardGeometry().top());
    EXPECT_TRUE(panel->isVisible()) << "the sheet taking the focus keeps the panel open";
    EXPECT_TRUE(visibleWithText(sheet(), "Done")->property("default").toBool());

    click("Copy invite link", sheet());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "https://varno.app/?r=code%207");
    EXPECT_EQ(telemetry.captured, QStringList({"referral_link_copied"}));
    click("Copied", sheet());
    EXPECT_NE(visibleWithText(sheet(), "Copied"), nullptr) << "copying again keeps the label";
    EXPECT_EQ(telemetry.captured.size(), 2);

    panel->orderOut();
    EXPECT_FALSE(sheet()->isVisible());
    panel->showRelativeTo(anchor());
    ASSERT_TRUE(waitUntil([&] { return sheet()->isVisible(); }));
    click("Done", sheet());
    EXPECT_FALSE(sheet()->isVisible());
    EXPECT_FALSE(view->showsFriends());
    openSheet();
    EXPECT_EQ(visibleTexts(sheet()).mid(0, 3), header) << "shown again, the label starts over";
    QTest::keyClick(sheet(), Qt::Key_Escape);
    EXPECT_FALSE(sheet()->isVisible());
    openSheet();
    store->setSession(std::nullopt);
    EXPECT_FALSE(sheet()->isVisible()) << "signing out closes it";
    EXPECT_FALSE(view->showsFriends());
}

TEST_F(FriendsViewTest, ItWaitsForTheDashboardThenListsFriendsBeforeOpenRequests) {
    // Only the user and answered requests: no friends yet.
    serverDashboard = dashboardWith(
        leaderboardOf(1), {request("r1", "Old", true, true), request("r2", "Older", false, true)});
    openSheetWith(std::nullopt);
    EXPECT_EQ(visibleTexts(sheet()), QStringList({"Friends", "Copy invite link (off)", "Done"}));
    EXPECT_NE(visibleWithAccessibleName(sheet(), "Progress"), nullptr);

    holdRequests = false;
    ASSERT_TRUE(waitUntil([&] { return !store->busy(); }));
    EXPECT_EQ(visibleTexts(sheet()),
              QStringList({"Friends", "Copy invite link (off)", "Done", "No friends yet"}));
    EXPECT_EQ(visibleWithAccessibleName(sheet(), "Progress"), nullptr);

    store->setDashboard(dashboardWith(leaderboardOf(3),
                                      {request("r1", "Incoming Ann", true),
                                       request("r2", "Accepted Al", true, true),
                                       request("r3", "Outgoing Bo", false)},
                                      "abc"));
    EXPECT_EQ(visibleTexts(sheet()),
              header + QStringList({"Friend 1", "Hide friend", "Friend 2", "Hide friend", //
                                    "Incoming Ann", "Accept", "Decline",                  //
                                    "Outgoing Bo", "Pending", "Cancel"}));
}

TEST_F(FriendsViewTest, HidingAndShowingAFriendChangesTheLeaderboardAtOnce) {
    openSheetWith(dashboardWith(leaderboardOf(3)));
    click("Hide friend", rowOf("Friend 1"));
    EXPECT_TRUE(store->isFriendHidden("f1"));
    EXPECT_EQ(ranksAndNames(), QStringList({"Rank 1, Me", "Rank 2, Friend 2"}));
    click("Show friend", rowOf("Friend 1")); // a hidden friend stays listed here
    EXPECT_FALSE(store->isFriendHidden("f1"));
    EXPECT_EQ(ranksAndNames(), QStringList({"Rank 1, Me", "Rank 2, Friend 1", "Rank 3, Friend 2"}));
    EXPECT_NE(visibleWithText(rowOf("Friend 1"), "Hide friend"), nullptr);
}

TEST_F(FriendsViewTest, WhileAnAnswerRunsOnlyTheRequestButtonsAreDisabled) {
    openSheetWith(dashboardWith(leaderboardOf(2),
                                {request("r1", "Ann", true), request("r3", "Bo", false)}, "abc"));
    holdRequests = true;
    click("Accept", sheet());
    ASSERT_TRUE(waitUntil([&] { return store->busy(); }));
    EXPECT_EQ(visibleTexts(sheet()),
              header + QStringList({"Friend 1", "Hide friend", "Ann", "Accept (off)",
                                    "Decline (off)", "Bo", "Pending", "Cancel (off)"}));

    // Once the server drops the answered request from the dashboard its row goes.
    serverDashboard.requests = {request("r3", "Bo", false)};
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

TEST_F(FriendsViewTest, ALongListScrollsWithin240AndTheSheetGrowsWithIt) {
    openSheetWith(dashboardWith(leaderboardOf(3)));
    const int shortHeight = visibleChildren<QScrollArea>(sheet()).value(0)->height();
    EXPECT_LT(shortHeight, 120);
    store->setDashboard(dashboardWith(leaderboardOf(30)));
    EXPECT_EQ(visibleChildren<QScrollArea>(sheet()).value(0)->height(), 240);
    EXPECT_TRUE(waitUntil([&] { return sheet()->content()->height() > shortHeight + 100; }));
}

} // namespace
} // namespace varno
