// SPDX-License-Identifier: MIT
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace varno {

class AppStore;
class FriendsModel;
class ProgressSpinner;
class WidgetRowList;

// The friends sheet: copy the invite link, hide or show each friend on this machine's
// leaderboard, and answer friend requests. Its list makes widgets only for the rows in
// view, so ten thousand friends open as fast as ten.
class FriendsView : public QWidget {
    Q_OBJECT
public:
    FriendsView(AppStore* store, std::function<void()> onDone, QWidget* parent = nullptr);
    ~FriendsView() override;

    bool inviteCopied() const { return inviteCopied_; }
    // Puts the invite link on the clipboard; "Copied" shows when that worked.
    void copyInviteLink();

    WidgetRowList* list() const { return list_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void render();
    void renderHeader();
    void renderList();
    void showListState();
    QWidget* makeRow(int row);
    void updateRow(QWidget* widget, int row);
    void answer(const QString& requestId, bool accept);

    QPointer<AppStore> store_;
    std::function<void()> onDone_;
    bool inviteCopied_ = false;
    bool loaded_ = false;
    int toggleWidth_ = 0;

    QPushButton* inviteButton_;
    QPushButton* doneButton_;
    ProgressSpinner* spinner_;
    QLabel* emptyLabel_;
    FriendsModel* model_;
    WidgetRowList* list_;
};

} // namespace varno
