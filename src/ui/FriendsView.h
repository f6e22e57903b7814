#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <utility>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

class QHBoxLayout;

namespace varno {

class AppStore;
class ProgressSpinner;
class RowList;

// The friends sheet: copy the invite link, hide or show each friend on this machine's
// leaderboard, and answer friend requests.
class FriendsView : public QWidget {
    Q_OBJECT
public:
    FriendsView(AppStore* store, std::function<void()> onDone, QWidget* parent = nullptr);
    ~FriendsView() override;

    bool inviteCopied() const { return inviteCopied_; }
    // Puts the invite link on the clipboard; "Copied" shows when that worked.
    void copyInviteLink();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void render();
    void renderHeader();
    void renderList();
    QWidget* makeRow(const QString& key, const QString& name);
    // A row holding the person's name; the caller adds its buttons to the layout.
    std::pair<QWidget*, QHBoxLayout*> makeNamedRow(const QString& name);
    QWidget* makeFriendRow(const QString& id, const QString& name);
    void showToggle(QPushButton* toggle, bool hidden);
    QWidget* makeRequestRow(const QString& key, const QString& id, const QString& name,
                            bool incoming);
    void answer(const QString& requestId, bool accept);

    QPointer<AppStore> store_;
    std::function<void()> onDone_;
    bool inviteCopied_ = false;

    QPushButton* inviteButton_;
    QPushButton* doneButton_;
    ProgressSpinner* spinner_;
    QLabel* emptyLabel_;
    QScrollArea* scroll_;
    RowList* rows_;
};

} // namespace varno
