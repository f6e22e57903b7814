// SPDX-License-Identifier: MIT
#pragma once

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class QLabel;
class QPushButton;

namespace varno {

class AppStore;
class ProgressSpinner;
class UsageChart;

// The "Your Usage" sheet: the user's own 30 days from this computer's last reading,
// as stacked bars by provider, with today's total and the busiest day, the 30 days by
// provider of this computer and of all the user's machines (the leaderboard's own
// row), and the day under the cursor or the pointer in full. Before the first reading
// it waits; when CodexBar cannot be read it says why.
class UsageView : public QWidget {
    Q_OBJECT
public:
    UsageView(AppStore* store, std::function<void()> onDone, QWidget* parent = nullptr);

    UsageChart* chart() const { return chart_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void render();
    void showDay(int day);

    QPointer<AppStore> store_;
    std::function<void()> onDone_;

    ProgressSpinner* spinner_;
    QLabel* problem_;
    QWidget* content_;
    QLabel* today_;
    QLabel* busiest_;
    QLabel* busiestDate_;
    // Codex, Claude Code and the total, for this computer and for all machines.
    std::array<QLabel*, 3> thisComputer_{};
    std::array<QLabel*, 3> allMachines_{};
    UsageChart* chart_;
    QLabel* dayName_;
    QLabel* dayTotal_;
    QLabel* daySplit_;
};

} // namespace varno
