// SPDX-License-Identifier: MIT
#pragma once

#include "ui/ScrollAnchor.h"

#include <QAbstractScrollArea>
#include <QHash>

#include <functional>

namespace varno {

class KeyedListModel;

// A scrolling list of rows of one height whose rows are widgets (buttons and all), made
// only for the rows in view and for the row that holds the keyboard focus, so a list of
// ten thousand costs what ten rows cost. Rows follow the model by key: a sync moves,
// adds and removes them, and the row under the pointer, or else the first row in view,
// keeps its place on screen meanwhile. The keyboard reaches every row: moveFocus()
// steps through the rows' controls (building rows as it goes), the arrows move to the
// row above or below, Page Up/Down by a page, Home/End to the ends.
class WidgetRowList : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Builds the widget of a row (its parent is set by the list); brings it up to date.
    using Make = std::function<QWidget*(int row)>;
    using Update = std::function<void(QWidget* widget, int row)>;

    WidgetRowList(KeyedListModel* model, Make make, Update update, QWidget* parent = nullptr);

    void setRowHeight(int height, int spacing);
    int stride() const { return rowHeight_ + spacing_; }
    // All rows together, as if nothing scrolled.
    int contentHeight() const;

    KeyedListModel* rows() const { return model_; }
    // The widget of a row that is built (in view or focused), or null.
    QWidget* widgetFor(const QString& key) const { return widgets_.value(key); }
    int builtRows() const { return int(widgets_.size()); }

    // Tab and Shift+Tab: to the next or previous control in the rows, false at the end.
    bool moveFocus(bool forward);
    // Into the list from outside: the first control of the first row in view, or the
    // last control of the last row in view.
    bool enterFocus(bool forward);

    void scrollToTop();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void updateRange();
    void layoutRows(bool refresh);
    int focusedRow() const;
    bool focusRow(int row, int control);

    KeyedListModel* model_;
    Make make_;
    Update update_;
    int rowHeight_ = 24;
    int spacing_ = 0;
    QHash<QString, QWidget*> widgets_;
    ScrollAnchor anchor_;
};

} // namespace varno
