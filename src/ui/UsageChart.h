// SPDX-License-Identifier: MIT
#pragma once

#include "model/UsageHistory.h"

#include <QListView>

namespace varno {

class UsageDaysModel;

// The 30 days as stacked bars, oldest on the left. A day cursor (Left/Right, Home/End,
// or a click) picks the day whose numbers the sheet shows; the pointer over a bar shows
// that day instead while it stays there. To a screen reader it is a list of 30 days.
class UsageChart : public QListView {
    Q_OBJECT
public:
    explicit UsageChart(QWidget* parent = nullptr);

    UsageDaysModel* days() const { return model_; }
    void setHistory(UsageHistory history);

    // The day whose numbers are shown: the one under the pointer, else the cursor's.
    int shownDay() const;
    int cursorDay() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void shownDayChanged(int day);

protected:
    bool viewportEvent(QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void setHovered(int day);

    UsageDaysModel* model_;
    int hovered_ = -1;
    int lastShown_ = -1;
};

} // namespace varno
