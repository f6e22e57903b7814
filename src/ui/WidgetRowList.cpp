// SPDX-License-Identifier: MIT
#include "ui/WidgetRowList.h"

#include "ui/AccessibleRole.h"
#include "ui/KeyedListModel.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QSet>

#include <algorithm>

namespace varno {

namespace {
// How many rows a keyboard step looks through for one it can focus (rows whose
// controls are all disabled are passed over).
constexpr int maxRowsSkipped = 64;

// The controls of a row that Tab stops at, left to right.
QList<QWidget*> controlsOf(QWidget* row) {
    QList<QWidget*> controls;
    for (QWidget* child : row->findChildren<QWidget*>()) {
        if ((child->focusPolicy() & Qt::TabFocus) && child->isEnabled() && child->isVisibleTo(row))
            controls.append(child);
    }
    std::stable_sort(controls.begin(), controls.end(), [row](QWidget* a, QWidget* b) {
        return a->mapTo(row, QPoint()).x() < b->mapTo(row, QPoint()).x();
    });
    return controls;
}
} // namespace

WidgetRowList::WidgetRowList(KeyedListModel* model, Make make, Update update, QWidget* parent)
    : QAbstractScrollArea(parent), model_(model), make_(std::move(make)),
      update_(std::move(update)) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The rows' controls are the stops; the list itself is none.
    setFocusPolicy(Qt::NoFocus);
    viewport()->setAutoFillBackground(false);
    AccessibleRole::set(viewport(), QAccessible::List);

    connect(model_, &KeyedListModel::aboutToApply, this,
            [this] { anchor_.capture(*model_, *this, stride()); });
    connect(model_, &KeyedListModel::applied, this, [this] {
        const int lostFocusAt = [this] {
            // A focused row that went away hands the focus to the row now in its place.
            for (auto it = widgets_.cbegin(); it != widgets_.cend(); ++it)
                if (it.value()->isAncestorOf(QApplication::focusWidget()) &&
                    model_->rowOf(it.key()) < 0)
                    return int(it.value()->y() + verticalScrollBar()->value()) /
                           std::max(1, stride());
            return -1;
        }();
        if (lostFocusAt >= 0)
            QApplication::focusWidget()->clearFocus();
        updateRange();
        if (const std::optional<int> scroll = anchor_.scrollAfter(*model_, stride()))
            verticalScrollBar()->setValue(*scroll);
        layoutRows(true);
        if (lostFocusAt >= 0 && !focusRow(std::min(lostFocusAt, model_->rowCount() - 1), 0))
            setFocus(Qt::OtherFocusReason); // keys still reach the sheet
        updateGeometry();
    });
}

void WidgetRowList::setRowHeight(int height, int spacing) {
    rowHeight_ = height;
    spacing_ = spacing;
    verticalScrollBar()->setSingleStep(stride());
    updateRange();
    layoutRows(true);
    updateGeometry();
}

int WidgetRowList::contentHeight() const {
    const int rows = model_->rowCount();
    return rows > 0 ? rows * stride() - spacing_ : 0;
}

QSize WidgetRowList::sizeHint() const {
    return QSize(QAbstractScrollArea::sizeHint().width(), contentHeight());
}

QSize WidgetRowList::minimumSizeHint() const {
    return QSize(0, std::min(contentHeight(), rowHeight_));
}

void WidgetRowList::scrollToTop() {
    verticalScrollBar()->setValue(0);
}

void WidgetRowList::updateRange() {
    const int height = viewport()->height();
    verticalScrollBar()->setRange(0, std::max(0, contentHeight() - height));
    verticalScrollBar()->setPageStep(height);
}

void WidgetRowList::layoutRows(bool refresh) {
    const int count = model_->rowCount();
    const int scroll = verticalScrollBar()->value();
    const int step = std::max(1, stride());
    const int first = scroll / step;
    const int last = std::min(count - 1, (scroll + viewport()->height() - 1) / step);

    // In the list's order, which is also the order they join the focus chain in.
    QList<int> rows;
    for (int row = first; row <= last; ++row)
        rows.append(row);
    const int focused = focusedRow();
    if (focused >= 0 && (focused < first || focused > last))
        rows.insert(focused < first ? 0 : rows.size(), focused);
    QSet<QString> wanted;
    for (int row : std::as_const(rows))
        wanted.insert(model_->keyAt(row));

    // Rows out of view leave once control is back in the event loop: one of them may
    // hold the button whose click led here.
    for (auto it = widgets_.begin(); it != widgets_.end();) {
        if (wanted.contains(it.key())) {
            ++it;
            continue;
        }
        theme::retire(it.value());
        it = widgets_.erase(it);
    }
    // The scroll bar takes room of its own, so that it never covers a row's buttons.
    const bool scrolls = verticalScrollBar()->maximum() > 0;
    const int width = viewport()->width() - (scrolls ? 6 : 0);
    for (int row : std::as_const(rows)) {
        const QString key = model_->keyAt(row);
        QWidget* widget = widgets_.value(key);
        if (!widget) {
            widget = make_(row);
            widget->setParent(viewport());
            widgets_.insert(key, widget);
            update_(widget, row);
        } else if (refresh) {
            update_(widget, row);
        }
        widget->setGeometry(0, row * step - scroll, width, rowHeight_);
        widget->show();
    }
}

int WidgetRowList::focusedRow() const {
    const QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return -1;
    for (auto it = widgets_.cbegin(); it != widgets_.cend(); ++it)
        if (it.value()->isAncestorOf(focus))
            return model_->rowOf(it.key());
    return -1;
}

bool WidgetRowList::focusRow(int row, int control) {
    if (row < 0 || row >= model_->rowCount())
        return false;
    // Bring the whole row into view.
    const int top = row * stride();
    QScrollBar* bar = verticalScrollBar();
    if (top < bar->value())
        bar->setValue(top);
    else if (top + rowHeight_ > bar->value() + viewport()->height())
        bar->setValue(top + rowHeight_ - viewport()->height());
    layoutRows(false);
    QWidget* widget = widgets_.value(model_->keyAt(row));
    const QList<QWidget*> controls = widget ? controlsOf(widget) : QList<QWidget*>();
    if (controls.isEmpty())
        return false;
    const int index =
        control < 0 ? int(controls.size()) - 1 : std::min(control, int(controls.size()) - 1);
    controls[index]->setFocus(Qt::TabFocusReason);
    return true;
}

bool WidgetRowList::moveFocus(bool forward) {
    const int row = focusedRow();
    if (row < 0)
        return false;
    const QList<QWidget*> controls = controlsOf(widgets_.value(model_->keyAt(row)));
    const int index = int(controls.indexOf(QApplication::focusWidget()));
    const int next = forward ? index + 1 : index - 1;
    if (index >= 0 && next >= 0 && next < controls.size()) {
        controls[next]->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    const int direction = forward ? 1 : -1;
    for (int r = row + direction, tries = 0; tries < maxRowsSkipped; r += direction, ++tries)
        if (r < 0 || r >= model_->rowCount() || focusRow(r, forward ? 0 : -1))
            return r >= 0 && r < model_->rowCount();
    return false;
}

bool WidgetRowList::enterFocus(bool forward) {
    const int count = model_->rowCount();
    if (count == 0)
        return false;
    const int step = std::max(1, stride());
    const int scroll = verticalScrollBar()->value();
    const int first = std::min(count - 1, scroll / step);
    const int last = std::min(count - 1, (scroll + viewport()->height() - 1) / step);
    const int direction = forward ? 1 : -1;
    for (int r = forward ? first : last, tries = 0; r >= 0 && r < count && tries < maxRowsSkipped;
         r += direction, ++tries)
        if (focusRow(r, forward ? 0 : -1))
            return true;
    return false;
}

void WidgetRowList::scrollContentsBy(int, int) {
    layoutRows(false);
}

void WidgetRowList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateRange();
    layoutRows(false);
}

void WidgetRowList::keyPressEvent(QKeyEvent* event) {
    const int row = focusedRow();
    const int count = model_->rowCount();
    const int page = std::max(1, viewport()->height() / std::max(1, stride()));
    int target = -1;
    switch (event->key()) {
    case Qt::Key_Up:
        target = row - 1;
        break;
    case Qt::Key_Down:
        target = row + 1;
        break;
    case Qt::Key_PageUp:
        target = std::max(0, row - page);
        break;
    case Qt::Key_PageDown:
        target = std::min(count - 1, row + page);
        break;
    case Qt::Key_Home:
        target = 0;
        break;
    case Qt::Key_End:
        target = count - 1;
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (row < 0 || target < 0 || target >= count) {
        // Nothing of the list has the focus: the keys scroll it.
        if (row < 0)
            QAbstractScrollArea::keyPressEvent(event);
        else
            event->accept();
        return;
    }
    // The same control of the other row (a friend's toggle, a request's first answer).
    const QList<QWidget*> controls = controlsOf(widgets_.value(model_->keyAt(row)));
    focusRow(target, std::max(0, int(controls.indexOf(QApplication::focusWidget()))));
    event->accept();
}

} // namespace varno
