// SPDX-License-Identifier: MIT
#pragma once

#include "async/CancellationError.h"
#include "model/Errors.h"
#include "store/AppStore.h"
#include "ui/AvatarLoader.h"
#include "ui/ElidedLabel.h"
#include "ui/GlassPanel.h"
#include "ui/LeaderboardDelegate.h"
#include "ui/LeaderboardList.h"
#include "ui/LeaderboardModel.h"
#include "ui/VarnoView.h"

#include "support/AwaitTask.h"
#include "support/Printers.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoroTimer>
#include <QJsonDocument>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

namespace varno::test {

inline const User me{"u-me", "Me", "me@example.com"};

inline LeaderboardEntry person(const QString& id, const QString& name, qint64 total,
                               bool synced = true, std::optional<QString> avatar = std::nullopt) {
    const auto syncedAt = synced ? std::optional<QString>("2026-12-05T10:00:00Z") : std::nullopt;
    return {id, name, id == me.id, total / 2, total - total / 2, total, syncedAt, avatar};
}

// The user followed by friends f1..fn, totals falling with the rank.
inline QList<LeaderboardEntry> leaderboardOf(int people) {
    QList<LeaderboardEntry> rows;
    for (int i = 0; i < people; ++i)
        rows.append(i == 0 ? person(me.id, me.name, 5'000'000)
                           : person(QString("f%1").arg(i), QString("Friend %1").arg(i),
                                    5'000'000 - i * 1000));
    return rows;
}

inline Dashboard dashboardWith(QList<LeaderboardEntry> rows, QList<FriendRequest> requests = {},
                               std::optional<QString> referralCode = std::nullopt) {
    return Dashboard{me, std::move(rows), std::move(requests), std::move(referralCode)};
}

// Lays out what changed, as the event loop does before the next frame: a size that
// changed deep inside reaches the panel one level per round.
inline void settle() {
    for (int i = 0; i < 8; ++i)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

// The visible widgets of type W under root that pass the check, once laid out.
template <typename W = QWidget>
QList<W*> visibleChildren(const QWidget* root,
                          const std::type_identity_t<std::function<bool(W*)>>& keep = {}) {
    settle();
    QList<W*> found;
    for (W* w : root->findChildren<W*>())
        if (w->isVisible() && (!keep || keep(w)))
            found.append(w);
    return found;
}
template <typename W = QAbstractButton>
W* visibleWithText(const QWidget* root, const QString& text) {
    return visibleChildren<W>(root, [&](W* w) { return w->text() == text; }).value(0);
}
inline QWidget* visibleWithAccessibleName(const QWidget* root, const QString& name) {
    return visibleChildren(root, [&](QWidget* w) { return w->accessibleName() == name; }).value(0);
}

// A name as shown, without the isolates around it (tests that care check them).
inline QString withoutIsolates(QString text) {
    return text.remove(QChar(0x2068)).remove(QChar(0x2069));
}

// Every visible text under root in creation order (labels, buttons, elided names), with
// "(off)" after disabled buttons.
inline QStringList visibleTexts(const QWidget* root) {
    settle();
    QStringList texts;
    for (QWidget* w : visibleChildren(root)) {
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty())
            texts.append(label->text());
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            texts.append(button->text() + (button->isEnabled() ? "" : " (off)"));
        else if (auto* name = qobject_cast<ElidedLabel*>(w))
            texts.append(withoutIsolates(name->text()));
    }
    return texts;
}

// What a screen reader is told of a widget's items: each child's role and name.
inline QStringList accessibleItems(QWidget* widget) {
    QStringList items;
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(widget);
    for (int i = 0; list && i < list->childCount(); ++i) {
        QAccessibleInterface* item = list->child(i);
        if (item->role() == QAccessible::ListItem)
            items.append(withoutIsolates(item->text(QAccessible::Name)) +
                         (item->childCount() > 0 ? " (with parts)" : ""));
    }
    return items;
}

// Moves the pointer over a point of a widget as a window system would tell: it leaves
// the window it was in and enters the widget's window there (the offscreen platform
// has no pointer of its own).
inline void movePointerAway();
inline void movePointer(QWidget* widget, QPoint point) {
    movePointerAway();
    QCursor::setPos(widget->mapToGlobal(point));
    QWidget* window = widget->window();
    const QPoint inWindow = widget->mapTo(window, point);
    QEnterEvent enter(inWindow, inWindow, widget->mapToGlobal(point));
    QCoreApplication::sendEvent(window->windowHandle(), &enter);
}
// The pointer leaves the app's windows.
inline void movePointerAway() {
    QCursor::setPos(-10000, -10000);
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->underMouse() && window->windowHandle()) {
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(window->windowHandle(), &leave);
        }
}

// The main view on a panel as the app builds them, at a tray icon at the top right. The
// store's outside effects are fakes: a server answering from serverDashboard (holding every
// request while holdRequests is set), a browser sign-in that waits until cancelled, etc.
class PanelTest : public ::testing::Test {
protected:
    PanelTest() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        settings.setValue("serverURL", "https://varno.test");
        AppStoreActions fakes;
        fakes.readUsage = [this](std::stop_token t) -> QCoro::Task<UsageSnapshot> {
            ++readings;
            co_await hold(holdReadings, t);
            if (readFailure)
                throw AppError(*readFailure);
            co_return UsageSnapshot{localUsage, QDateTime::currentDateTimeUtc()};
        };
        fakes.sendRequest = [this](HttpRequest r, std::stop_token t) { return send(r, t); };
        fakes.saveSession = [](const SavedSession&) {};
        fakes.clearSession = [] {};
        fakes.openGitHub = [this](QUrl, std::stop_token t) -> QCoro::Task<QString> {
            co_await hold(browserOpen, t); // the browser never comes back
            co_return QString();
        };
        store = std::make_unique<AppStore>(false, std::move(fakes), nullptr, &settings, &settings,
                                           QVariantMap{});
    }
    ~PanelTest() override {
        // Let every task of the store end before the fakes it uses go away.
        if (panel)
            panel->orderOut();
        holdRequests = holdReadings = false;
        waitUntil([&] { return !store->busy(); });
        panel.reset();
        QLocale::setDefault(QLocale::system());
    }

    void signIn(const User& user = me) {
        store->setSession(SavedSession{"token", user, store->serverURL()});
    }
    // The paths (after /api/) the server was asked for, with their methods.
    QStringList requestLines() const {
        QStringList lines;
        for (const HttpRequest& r : requests)
            lines.append(QString::fromLatin1(r.method) + ' ' + r.url.path().mid(5));
        return lines;
    }

    static QRect anchor() {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        return QRect(screen.right() - 40, screen.top(), 24, 24);
    }
    void open() {
        if (!panel)
            panel = std::make_unique<GlassPanel>([this](PanelVisibility* visibility) {
                view = new VarnoView(store.get(), actions, &avatars);
                QObject::connect(visibility, &PanelVisibility::isVisibleChanged, view,
                                 &VarnoView::setRefreshEnabled);
                return view;
            });
        panel->showRelativeTo(anchor());
        ASSERT_TRUE(waitUntil([&] { return view->isVisible(); }));
    }
    // Signed in and open, the server giving this dashboard; without one, the panel's
    // refresh gets no answer.
    void openSignedInWith(std::optional<Dashboard> dashboard) {
        holdRequests = !dashboard;
        serverDashboard = dashboard.value_or(serverDashboard);
        signIn();
        store->setDashboard(dashboard);
        open();
        ASSERT_TRUE(waitUntil([&] { return !dashboard || !store->busy(); }));
    }
    void click(const QString& text, const QWidget* in = nullptr) {
        QAbstractButton* button = visibleWithText(in ? in : view, text);
        ASSERT_NE(button, nullptr) << text;
        QTest::mouseClick(button, Qt::LeftButton);
    }
    // The panel menu's items, "(off)" after disabled ones; triggers the one at `choose`.
    QStringList menu(int choose = -1) {
        QMenu* menu = openMenu();
        if (!menu)
            return {"no menu"};
        QStringList lines;
        for (QAction* a : menu->actions())
            lines.append(a->isSeparator() ? "---" : a->text() + (a->isEnabled() ? "" : " (off)"));
        if (choose >= 0)
            menu->actions().at(choose)->trigger();
        menu->close();
        return lines;
    }
    // A key as the window system delivers it: to the panel's window, where Qt routes it
    // to the focused widget (shortcuts first).
    void press(int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(panel->windowHandle(), Qt::Key(key), modifiers);
        QApplication::processEvents();
    }
    QMenu* openMenu() {
        QContextMenuEvent event(QContextMenuEvent::Mouse, {10, 10},
                                view->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(view, &event);
        return qobject_cast<QMenu*>(QApplication::activePopupWidget());
    }
    LeaderboardList* list() const {
        settle();
        LeaderboardList* list = view->leaderboardList();
        return list->isVisible() ? list : nullptr;
    }
    // The leaderboard's rows from the top, as a screen reader is told them.
    QStringList labels() const {
        QStringList all;
        const LeaderboardModel* model = view->leaderboardList()->leaderboard();
        for (int row = 0; row < model->rowCount(); ++row)
            all.append(withoutIsolates(model->index(row).data(Qt::AccessibleTextRole).toString()));
        return all;
    }
    // "Rank 2, Name" for each row.
    QStringList ranksAndNames() const {
        QStringList names;
        for (const QString& label : labels())
            names.append(label.section(", ", 0, 1));
        return names;
    }
    // The row at a point of the list's viewport ("" when none): what the pointer is over.
    QString rowNameAt(QPoint point) const {
        const QModelIndex index = view->leaderboardList()->indexAt(point);
        return index.isValid() ? withoutIsolates(index.data(Qt::AccessibleTextRole).toString())
                                     .section(", ", 0, 1)
                               : QString();
    }
    // The tool tip shown when the pointer rests on a row's total or name ("" when none).
    QString help(int row, bool overTotal) const {
        QToolTip::hideText();
        waitUntil([] { return !QToolTip::isVisible(); });
        const QRect rect = list()->visualRect(list()->model()->index(row, 0));
        const auto parts = list()->delegate()->parts(rect, list()->leaderboard()->rowAt(row));
        const QPoint at = overTotal ? parts.total.center() : parts.name.center();
        QHelpEvent event(QEvent::ToolTip, at, list()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list()->viewport(), &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }
    // Where a row's top is in the list's viewport.
    int rowTop(int row) const {
        LeaderboardList* list = view->leaderboardList();
        return list->visualRect(list->model()->index(row, 0)).top();
    }

    QTemporaryDir dir;
    QSettings settings{dir.filePath("settings.ini"), QSettings::IniFormat};
    std::unique_ptr<AppStore> store;
    Dashboard serverDashboard = dashboardWith(leaderboardOf(2));
    bool holdRequests = false, browserOpen = true;
    // What CodexBar gives: these rows (none by default), or this failure; nothing at
    // all while holdReadings is set.
    QList<DailyUsage> localUsage;
    std::optional<QString> readFailure;
    bool holdReadings = false;
    QList<HttpRequest> requests;
    int cancelledRequests = 0, readings = 0, fetches = 0;
    AvatarLoader avatars{[this](QUrl, std::stop_token) -> QCoro::Task<QByteArray> {
        ++fetches;
        throw std::runtime_error("offline");
        co_return QByteArray();
    }};
    VarnoViewActions actions;
    std::unique_ptr<GlassPanel> panel;
    VarnoView* view = nullptr;

private:
    // Waits while the flag is set; throws once the caller cancels.
    QCoro::Task<void> hold(const bool& flag, std::stop_token token) {
        QTimer poll;
        poll.start(5);
        while (flag && !token.stop_requested())
            co_await poll;
        if (token.stop_requested()) {
            ++cancelledRequests;
            throw CancellationError();
        }
    }
    QCoro::Task<HttpResponse> send(HttpRequest request, std::stop_token token) {
        requests.append(request);
        co_await hold(holdRequests, token);
        const QString path = request.url.path();
        QByteArray body =
            path.endsWith("/auth/github") ? R"({"url":"https://varno.test/a"})" : R"({"ok":true})";
        if (path.endsWith("/dashboard"))
            body = serverDashboard.toJson();
        co_return HttpResponse{true, 200, body, {}};
    }
};

} // namespace varno::test
