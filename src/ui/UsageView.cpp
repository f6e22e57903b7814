// SPDX-License-Identifier: MIT
#include "ui/UsageView.h"

#include "model/Formatting.h"
#include "model/ThisComputer.h"
#include "model/UsageHistory.h"
#include "store/AppStore.h"
#include "ui/ProgressSpinner.h"
#include "ui/SheetLayout.h"
#include "ui/Theme.h"
#include "ui/UsageChart.h"
#include "ui/UsageDaysModel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace varno {

namespace {

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    theme::useSecondaryColour(label);
    return label;
}

// A provider's name after a square in its colour: the chart's legend.
QWidget* legendItem(const QString& name, const QColor& colour, QWidget* parent) {
    auto* item = new QWidget(parent);
    auto* layout = new QHBoxLayout(item);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* swatch = new QWidget(item);
    swatch->setFixedSize(9, 9);
    swatch->setAttribute(Qt::WA_StyledBackground);
    swatch->setStyleSheet(QStringLiteral("background: %1; border-radius: 2px;").arg(colour.name()));
    layout->addWidget(swatch);
    layout->addWidget(new QLabel(name, item));
    layout->addStretch(1);
    return item;
}

QLabel* numberLabel(QWidget* parent) {
    auto* label = new QLabel(QStringLiteral("—"), parent);
    label->setFont(theme::monospacedDigitsFont());
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// A caption over a large number.
QWidget* statBlock(const QString& caption, QLabel* value, QLabel* note, QWidget* parent) {
    auto* block = new QWidget(parent);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(secondaryLabel(caption, block));
    auto* line = new QHBoxLayout();
    line->setSpacing(6);
    value->setParent(block);
    value->setFont(theme::headlineFont());
    line->addWidget(value);
    if (note) {
        note->setParent(block);
        line->addWidget(note);
    }
    line->addStretch(1);
    layout->addLayout(line);
    return block;
}

} // namespace

UsageView::UsageView(AppStore* store, std::function<void()> onDone, QWidget* parent)
    : QWidget(parent), store_(store), onDone_(std::move(onDone)) {
    SheetLayout sheet(this, QStringLiteral("Your Usage"));
    QVBoxLayout* layout = sheet.column();
    sheet.header()->addWidget(secondaryLabel(QStringLiteral("Last 30 days"), this));
    sheet.header()->addStretch(1);
    sheet.finish([this] {
        if (onDone_)
            onDone_();
    });

    spinner_ = new ProgressSpinner(ProgressSpinner::Size::Small, this);
    spinner_->setAccessibleName(QStringLiteral("Reading your usage"));
    layout->addWidget(spinner_, 0, Qt::AlignHCenter);

    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(problem_);

    content_ = new QWidget(this);
    auto* contentLayout = new QVBoxLayout(content_);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(12);

    auto* stats = new QHBoxLayout();
    stats->setSpacing(12);
    today_ = new QLabel();
    busiest_ = new QLabel();
    busiestDate_ = new QLabel();
    theme::useSecondaryColour(busiestDate_);
    stats->addWidget(statBlock(QStringLiteral("Today"), today_, nullptr, content_), 1);
    stats->addWidget(statBlock(QStringLiteral("Busiest day"), busiest_, busiestDate_, content_), 1);
    contentLayout->addLayout(stats);

    // By provider, for this computer's reading and for every machine the server has; the
    // provider names are the chart's legend.
    auto* table = new QGridLayout();
    table->setHorizontalSpacing(16);
    table->setVerticalSpacing(4);
    table->setColumnStretch(0, 1);
    // On two lines each: three columns of numbers in the sheet's width.
    const QString headings[] = {thisComputerTitle().replace(QLatin1Char(' '), QLatin1Char('\n')),
                                QStringLiteral("All your\nmachines")};
    for (int column = 0; column < 2; ++column) {
        auto* heading = secondaryLabel(headings[column], content_);
        heading->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table->addWidget(heading, 0, column + 1);
    }
    const auto rowName = [&](int row) -> QWidget* {
        if (row == 0)
            return legendItem(QStringLiteral("Codex"), theme::codexColour(), content_);
        if (row == 1)
            return legendItem(QStringLiteral("Claude Code"), theme::claudeColour(), content_);
        return new QLabel(QStringLiteral("Total"), content_);
    };
    for (int row = 0; row < 3; ++row) {
        table->addWidget(rowName(row), row + 1, 0);
        thisComputer_[row] = numberLabel(content_);
        allMachines_[row] = numberLabel(content_);
        table->addWidget(thisComputer_[row], row + 1, 1);
        table->addWidget(allMachines_[row], row + 1, 2);
    }
    contentLayout->addLayout(table);

    chart_ = new UsageChart(content_);
    contentLayout->addWidget(chart_, 0, Qt::AlignHCenter);

    // The day under the cursor or the pointer: its date, its total, its split.
    auto* dayBlock = new QVBoxLayout();
    dayBlock->setSpacing(2);
    dayName_ = new QLabel(content_);
    dayName_->setFont(theme::headlineFont());
    dayBlock->addWidget(dayName_);
    dayTotal_ = new QLabel(content_);
    dayBlock->addWidget(dayTotal_);
    daySplit_ = secondaryLabel(QString(), content_);
    dayBlock->addWidget(daySplit_);
    contentLayout->addLayout(dayBlock);
    layout->addWidget(content_);
    // A sheet taller than its content (it covers the whole panel) keeps it at the top.
    layout->addStretch(1);

    connect(chart_, &UsageChart::shownDayChanged, this, &UsageView::showDay);
    if (store_) {
        connect(store_, &AppStore::snapshotChanged, this, &UsageView::render);
        connect(store_, &AppStore::usageErrorChanged, this, &UsageView::render);
        connect(store_, &AppStore::dashboardChanged, this, &UsageView::render);
    }
    render();
}

void UsageView::showEvent(QShowEvent* event) {
    // Today may have become another day since the sheet was last up.
    render();
    QWidget::showEvent(event);
}

void UsageView::render() {
    const bool hasReading = store_ && store_->snapshot().has_value();
    const std::optional<QString> problem = store_ ? store_->usageError() : std::nullopt;
    spinner_->setVisible(!hasReading && !problem);
    problem_->setVisible(problem.has_value());
    if (problem)
        problem_->setText(*problem);
    content_->setVisible(hasReading);
    if (!hasReading)
        return;

    const QLocale locale;
    const UsageHistory history(*store_->snapshot(), store_->now(), store_->timeZone());
    today_->setText(compactTokens(history.today().total()));
    today_->setToolTip(locale.toString(history.today().total()) + QStringLiteral(" tokens"));
    if (const std::optional<int> busiest = history.busiestDay()) {
        const UsageDay& day = history.days().at(*busiest);
        busiest_->setText(compactTokens(day.total()));
        busiest_->setToolTip(UsageHistory::spoken(day, locale));
        busiestDate_->setText(UsageHistory::shortDayName(day.date, locale));
    } else {
        busiest_->setText(QStringLiteral("—"));
        busiest_->setToolTip(QString());
        busiestDate_->clear();
    }

    const ProviderTotals mine = history.totals();
    const std::array<qint64, 3> own{mine.codex, mine.claude, mine.total};
    for (int i = 0; i < 3; ++i) {
        thisComputer_[i]->setText(compactTokens(own[i]));
        thisComputer_[i]->setToolTip(locale.toString(own[i]) + QStringLiteral(" tokens"));
    }
    const std::optional<ProviderTotals> all =
        store_->dashboard() ? UsageHistory::allMachines(*store_->dashboard()) : std::nullopt;
    const std::array<qint64, 3> server =
        all ? std::array<qint64, 3>{all->codex, all->claude, all->total} : std::array<qint64, 3>{};
    for (int i = 0; i < 3; ++i) {
        allMachines_[i]->setText(all ? compactTokens(server[i]) : QStringLiteral("—"));
        allMachines_[i]->setToolTip(all ? locale.toString(server[i]) + QStringLiteral(" tokens")
                                        : QStringLiteral("No usage synced yet"));
    }

    chart_->setHistory(history);
}

void UsageView::showDay(int index) {
    const QList<UsageDay>& days = chart_->days()->history().days();
    if (index < 0 || index >= days.size())
        return;
    const UsageDay& day = days.at(index);
    const QLocale locale;
    dayName_->setText(UsageHistory::dayName(day.date, locale));
    dayTotal_->setText(locale.toString(day.total()) + QStringLiteral(" tokens"));
    daySplit_->setText(UsageHistory::split(day, locale, QStringLiteral(" · ")));
}

} // namespace varno
