#include "UiHarness.h"

#include "ui/FriendsView.h"
#include "ui/GlassPanel.h"
#include "ui/GlassSheet.h"
#include "ui/VarnoView.h"

#include <QClipboard>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

namespace varno {
namespace {

using namespace test;

FriendRequest request(const QString& id, const QString& name, bool incoming,
                      bool accepted = false) {
    return FriendRequest{id, name, incoming, accepted};
}

// The friends sheet as the main view opens it, on a panel.
class FriendsViewTest : public ::testing::Test {
protected:
    ~FriendsViewTest() override {
        if (panel)
            panel->orderOut();
        harness.holdRequests = false;
        waitUntil([&] { return !harness.store->busy(); });
        panel.reset();
    }

    void openWith(std::optional<Dashboard> dashboard) {
        if (dashboard)
            harness.serverDashboard = *dashboard;
        else
            harness.holdRequests = true; // the panel's refresh gets no answer
        harness.signIn();
        harness.store->setDashboard(dashboard);
        panel = std::make_unique<GlassPanel>([this](PanelVisibility* visibility) {
            view = new VarnoView(harness.store.get(), {}, &avatars);
            QObject::connect(visibility, &PanelVisibility::isVisibleChanged, view,
                             &VarnoView::setRefreshEnabled);
            return view;
        });
        panel->showRelativeTo(anchor());
        ASSERT_TRUE(waitUntil([&] { return view->isVisible(); }));
        if (dashboard) {
            ASSERT_TRUE(waitUntil([&] { return !harness.store->busy(); }));
        }
        openSheet();
    }

    // "Friends" from the panel's menu.
    void openSheet() {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                view->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(view, &event);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        menu->actions().at(1)->trigger();
        menu->close();
        ASSERT_NE(view->friendsSheet(), nullptr);
        ASSERT_TRUE(waitUntil([&] { return sheet()->isVisible(); }));
    }

    static QRect anchor() {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        return QRect(screen.right() - 40, screen.top(), 24, 24);
    }
    GlassSheet* sheet() const { return view->friendsSheet(); }
    QWidget* rowOf(const QString& name) const { return visibleWithAccessibleName(sheet(), name); }
    QAbstractButton* button(const QString& text, const QWidget* in = nullptr) const {
        return visibleWithText(in ? in : sheet(), text);
    }
    QStringList leaderboardNames() const {
        QStringList names;
        for (QWidget* w : visibleChildren(view))
            if (w->accessibleName().startsWith(QLatin1String("Rank ")))
                names.append(w->accessibleName().section(", ", 1, 1));
        return names;
    }

    UiHarness harness;
    AvatarLoader avatars{AvatarLoader::Fetch()};
    std::unique_ptr<GlassPanel> panel;
    VarnoView* view = nullptr;
};

TEST_F(FriendsViewTest, TheSheetIsAWindowModalCardOnThePanel) {
    openWith(dashboardWith(leaderboardOf(2), {}, QStringLiteral("abc")));
    EXPECT_TRUE(view->showsFriends());
    EXPECT_EQ(sheet()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet()->parentWidget()->window(), panel.get());
    EXPECT_EQ(sheet()->content()->width(), 360);
    EXPECT_EQ(sheet()->cardGeometry().top(), panel->cardGeometry().top());
    EXPECT_TRUE(panel->isVisible()) << "the sheet taking the focus keeps the panel open";
    EXPECT_EQ(visibleTexts(sheet()).mid(0, 3),
              QStringList({"Friends", "Copy invite link", "Done"}));
    EXPECT_TRUE(button("Done")->property("default").toBool()) << "Return presses Done";

    // It goes with the panel and comes back with it.
    panel->orderOut();
    EXPECT_FALSE(sheet()->isVisible());
    panel->showRelativeTo(anchor());
    ASSERT_TRUE(waitUntil([&] { return sheet()->isVisible(); }));

    QTest::mouseClick(button("Done"), Qt::LeftButton);
    EXPECT_FALSE(sheet()->isVisible());
    EXPECT_FALSE(view->showsFriends());

    openSheet();
    QTest::keyClick(sheet(), Qt::Key_Escape);
    EXPECT_FALSE(sheet()->isVisible());
    EXPECT_FALSE(view->showsFriends());
}

TEST_F(FriendsViewTest, WithoutADashboardItWaits) {
    openWith(std::nullopt);
    EXPECT_EQ(visibleTexts(sheet()), QStringList({"Friends", "Copy invite link", "Done"}));
    EXPECT_NE(visibleWithAccessibleName(sheet(), "Progress"), nullptr);
    EXPECT_FALSE(button("Copy invite link")->isEnabled());
}

TEST_F(FriendsViewTest, OnlyTheUserAndAnsweredRequestsMeanNoFriendsYet) {
    openWith(dashboardWith(
        leaderboardOf(1), {request("r1", "Old", true, true), request("r2", "Older", false, true)}));
    EXPECT_EQ(visibleTexts(sheet()),
              QStringList({"Friends", "Copy invite link", "Done", "No friends yet"}));
}

TEST_F(FriendsViewTest, FriendsComeFirstThenOpenRequestsInTheServersOrder) {
    openWith(dashboardWith(leaderboardOf(3), {request("r1", "Incoming Ann", true),
                                              request("r2", "Accepted Al", true, true),
                                              request("r3", "Outgoing Bo", false)}));
    EXPECT_EQ(visibleTexts(sheet()),
              QStringList({"Friends", "Copy invite link", "Done",                //
                           "Friend 1", "Hide friend", "Friend 2", "Hide friend", //
                           "Incoming Ann", "Accept", "Decline",                  //
                           "Outgoing Bo", "Pending", "Cancel"}));
}

TEST_F(FriendsViewTest, HidingAndShowingAFriendChangesTheLeaderboardAtOnce) {
    openWith(dashboardWith(leaderboardOf(3)));
    EXPECT_EQ(leaderboardNames(), QStringList({"Me", "Friend 1", "Friend 2"}));

    QTest::mouseClick(button("Hide friend", rowOf("Friend 1")), Qt::LeftButton);
    EXPECT_TRUE(harness.store->isFriendHidden("f1"));
    EXPECT_EQ(leaderboardNames(), QStringList({"Me", "Friend 2"}));
    ASSERT_NE(rowOf("Friend 1"), nullptr) << "a hidden friend stays listed here";
    ASSERT_NE(button("Show friend", rowOf("Friend 1")), nullptr);

    QTest::mouseClick(button("Show friend", rowOf("Friend 1")), Qt::LeftButton);
    EXPECT_FALSE(harness.store->isFriendHidden("f1"));
    EXPECT_EQ(leaderboardNames(), QStringList({"Me", "Friend 1", "Friend 2"}));
    EXPECT_NE(button("Hide friend", rowOf("Friend 1")), nullptr);
}

TEST_F(FriendsViewTest, WhileAnAnswerRunsOnlyTheRequestButtonsAreDisabled) {
    openWith(dashboardWith(leaderboardOf(2),
                           {request("r1", "Ann", true), request("r3", "Bo", false)},
                           QStringLiteral("abc")));
    harness.holdRequests = true;
    QTest::mouseClick(button("Accept"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return harness.store->busy(); }));
    for (const char* text : {"Accept", "Decline", "Cancel"})
        EXPECT_FALSE(button(text)->isEnabled()) << text;
    EXPECT_TRUE(button("Hide friend")->isEnabled());
    EXPECT_TRUE(button("Copy invite link")->isEnabled());

    // The answer went out as PATCH friends/r1 with an empty object; once the server
    // drops the request from the dashboard its row goes.
    harness.serverDashboard.requests = {request("r3", "Bo", false)};
    harness.holdRequests = false;
    ASSERT_TRUE(waitUntil([&] { return !harness.store->busy(); }));
    const HttpRequest& sent = harness.requests.at(harness.requests.size() - 2);
    EXPECT_EQ(sent.method, "PATCH");
    EXPECT_TRUE(sent.url.path().endsWith("/api/friends/r1"));
    EXPECT_EQ(sent.body, QByteArray("{}"));
    EXPECT_EQ(rowOf("Ann"), nullptr);
    EXPECT_TRUE(button("Cancel")->isEnabled());

    QTest::mouseClick(button("Cancel"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !harness.store->busy(); }));
    EXPECT_EQ(harness.requests.at(harness.requests.size() - 2).method, "DELETE");
}

TEST_F(FriendsViewTest, CopyingTheInviteLinkPutsItOnTheClipboardAndCountsIt) {
    openWith(dashboardWith(leaderboardOf(2), {}, QStringLiteral("code 7")));
    QTest::mouseClick(button("Copy invite link"), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "https://varno.app/?r=code%207");
    EXPECT_NE(button("Copied"), nullptr);
    EXPECT_EQ(harness.telemetry.captured, QStringList({"referral_link_copied"}));

    QTest::mouseClick(button("Copied"), Qt::LeftButton);
    EXPECT_NE(button("Copied"), nullptr) << "copying again keeps the label";
    EXPECT_EQ(harness.telemetry.captured.size(), 2);

    // Shown again: the label starts over.
    QTest::mouseClick(button("Done"), Qt::LeftButton);
    openSheet();
    EXPECT_NE(button("Copy invite link"), nullptr);
}

TEST_F(FriendsViewTest, NoReferralCodeNoInviteButton) {
    openWith(dashboardWith(leaderboardOf(2)));
    EXPECT_FALSE(button("Copy invite link")->isEnabled());
}

TEST_F(FriendsViewTest, ALongListScrollsWithin240AndAShortOneFits) {
    openWith(dashboardWith(leaderboardOf(3)));
    auto* list = visibleChildren<QScrollArea>(sheet()).value(0);
    ASSERT_NE(list, nullptr);
    const int shortHeight = list->height();
    EXPECT_LT(shortHeight, 120);

    harness.store->setDashboard(dashboardWith(leaderboardOf(30)));
    list = visibleChildren<QScrollArea>(sheet()).value(0);
    EXPECT_EQ(list->height(), 240);
    EXPECT_TRUE(waitUntil([&] { return sheet()->content()->height() > shortHeight + 100; }))
        << "the sheet grows with its list";
}

TEST_F(FriendsViewTest, SigningOutClosesTheSheet) {
    openWith(dashboardWith(leaderboardOf(2)));
    harness.store->setSession(std::nullopt);
    EXPECT_FALSE(sheet()->isVisible());
    EXPECT_FALSE(view->showsFriends());
}

} // namespace
} // namespace varno
