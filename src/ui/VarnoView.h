// SPDX-License-Identifier: MIT
#pragma once

#include "model/Records.h"
#include "ui/GlassSheet.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QPushButton;

namespace varno {

class AppStore;
class AvatarLoader;
class Job;
class LeaderboardList;
class ProgressSpinner;

// What the view asks of its owner. Every member may be left empty.
struct VarnoViewActions {
    // "Sign in with GitHub". Empty: the view runs the store's browser sign-in itself.
    std::function<void()> signIn;
    // "Cancel" while the browser sign-in waits. Empty: cancels the view's own sign-in.
    std::function<void()> cancelSignIn;
    // "Quit Varno". Empty: asks the application to quit.
    std::function<void()> quit;
};

// The panel's content. Signed out: a small card with the sign-in button (or the
// wait for it). Signed in: the 30-day leaderboard of the user and their friends. It
// also carries the right-click menu, the alert for the store's error, the sheets drawn
// over it (friends, the user's own usage), and the refresh that runs while the panel is on screen.
class VarnoView : public QWidget {
    Q_OBJECT
public:
    // The sheets the view can show over itself, one at a time, while signed in.
    enum class Sheet { none, friends, usage };

    // avatars may be null: the view then loads pictures over the network itself.
    VarnoView(AppStore* store, VarnoViewActions actions = {}, AvatarLoader* avatars = nullptr,
              QWidget* parent = nullptr);
    ~VarnoView() override;

    // True while the panel is on screen: a refresh (without upload) runs whenever it
    // becomes true or the signed-in user changes, and stops when it turns false.
    bool refreshEnabled() const { return refreshEnabled_; }
    void setRefreshEnabled(bool enabled);

    // The sheet to show while the panel is on screen. It stays chosen while the panel
    // is closed and comes back with it; signing out ends it.
    Sheet sheet() const { return sheet_; }
    void setSheet(Sheet sheet);
    bool showsFriends() const { return sheet_ == Sheet::friends; }
    void setShowFriends(bool show);

    // The right-click menu, built from the store as it is now and popped up at the
    // point (without blocking). It deletes itself when closed.
    QMenu* popUpContextMenu(const QPoint& globalPosition);

    // The alert showing the store's error while one is up, each sheet once it has been
    // opened, and the leaderboard's list.
    QMessageBox* errorAlert() const { return alert_; }
    GlassSheet* friendsSheet() const { return friendsSheet_; }
    GlassSheet* usageSheet() const { return usageSheet_; }
    LeaderboardList* leaderboardList() const { return list_; }

    // Room for the sheet as well, when one is up.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct RefreshState {
        std::optional<QString> userID;
        bool enabled = false;
        bool operator==(const RefreshState&) const = default;
    };

    void buildSignedOutCard();
    void buildSignedInCard();
    void render();
    void renderLeaderboard();
    void updateRefreshTask();
    void syncAlert(bool onScreen);
    void closeAlert();
    void syncSheet(bool onScreen);
    // The sheet, built the first time it is asked for.
    GlassSheet* sheetFor(Sheet sheet);
    GlassSheet* makeSheet(Sheet sheet, QWidget* content, const QString& title);
    GlassSheet* shownSheet() const;

    void signIn();
    void cancelSignIn();
    void syncUsage();
    void signOut();
    void quit();

    QPointer<AppStore> store_;
    VarnoViewActions actions_;
    AvatarLoader* avatars_;
    bool refreshEnabled_ = false;
    bool leaderboardStale_ = false;
    Sheet sheet_ = Sheet::none;

    std::optional<RefreshState> refreshKey_;
    std::shared_ptr<Job> refreshJob_;
    std::shared_ptr<Job> signInJob_;

    // Everything but the sheets: hidden under a sheet, keeping its size.
    QWidget* main_ = nullptr;
    QWidget* signedOut_ = nullptr;
    ProgressSpinner* restoring_ = nullptr;
    QWidget* restoringRow_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* signInButton_ = nullptr;

    QWidget* signedIn_ = nullptr;
    QWidget* loading_ = nullptr;
    QLabel* empty_ = nullptr;
    LeaderboardList* list_ = nullptr;

    QAction* quitShortcut_ = nullptr;
    QPointer<QMessageBox> alert_;
    QPointer<GlassSheet> friendsSheet_;
    QPointer<GlassSheet> usageSheet_;
    QString windowTitle_;
};

} // namespace varno
