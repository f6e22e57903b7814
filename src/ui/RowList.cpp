#include "ui/RowList.h"

#include "ui/AccessibleRole.h"
#include "ui/Theme.h"

#include <QCursor>
#include <QEvent>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

namespace varno {

RowList::RowList(QScrollArea* area, int spacing)
    : QObject(area), area_(area), content_(new QWidget()), layout_(new QVBoxLayout(content_)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(spacing);
    AccessibleRole::set(content_, QAccessible::List);
    area_->setWidget(content_);
    area_->viewport()->installEventFilter(this);
    // A leave the list is not told about still ends the hold.
    releaseCheck_.setInterval(250);
    connect(&releaseCheck_, &QTimer::timeout, this, &RowList::releaseIfPointerLeft);
}

bool RowList::pointerInside() const {
    // Qt's own account (which knows when another of our windows covers the list), and
    // where the pointer is: the account can stay behind when the row under the
    // pointer goes away.
    const QWidget* viewport = area_->viewport();
    return area_->isVisible() && viewport->underMouse() &&
           viewport->rect().contains(viewport->mapFromGlobal(QCursor::pos()));
}

void RowList::apply(const QStringList& keys, const Make& make, const Update& update) {
    QStringList target;
    if (pointerInside()) {
        const QSet<QString> wanted(keys.begin(), keys.end());
        for (const QString& key : std::as_const(shown_))
            if (wanted.contains(key) || !removable_.contains(key))
                target.append(key);
        for (const QString& key : keys)
            if (!rows_.contains(key))
                target.append(key);
    } else {
        target = keys;
    }
    // A row removed by its own action stays removable until its key is gone.
    for (auto it = removable_.begin(); it != removable_.end();)
        it = keys.contains(*it) ? std::next(it) : removable_.erase(it);

    // Rows that are gone leave once control is back in the event loop: one of them
    // may hold the button whose click led here.
    const QSet<QString> kept(target.begin(), target.end());
    for (auto it = rows_.begin(); it != rows_.end();) {
        if (kept.contains(it.key())) {
            ++it;
            continue;
        }
        layout_->removeWidget(it.value());
        theme::retire(it.value());
        it = rows_.erase(it);
    }
    const QSet<QString> wanted(keys.begin(), keys.end());
    for (int position = 0; position < target.size(); ++position) {
        const QString& key = target[position];
        QWidget* row = rows_.value(key);
        if (!row) {
            row = make(key);
            row->setParent(content_);
            rows_.insert(key, row);
        }
        if (wanted.contains(key)) {
            row->setEnabled(true);
            update(row, key, position);
        } else {
            row->setEnabled(false); // gone: nothing to act on any more
        }
        if (layout_->indexOf(row) != position) {
            layout_->removeWidget(row);
            layout_->insertWidget(position, row);
        }
        row->show();
    }
    shown_ = target;
    held_ = target != keys;
    if (held_)
        releaseCheck_.start();
    else
        releaseCheck_.stop();
}

void RowList::releaseIfPointerLeft() {
    if (held_ && !pointerInside()) {
        releaseCheck_.stop();
        emit released();
    }
}

bool RowList::eventFilter(QObject* watched, QEvent* event) {
    if (held_ && (event->type() == QEvent::Leave || event->type() == QEvent::Hide))
        // On the next turn, once the pointer's state has settled.
        QTimer::singleShot(0, this, &RowList::releaseIfPointerLeft);
    return QObject::eventFilter(watched, event);
}

} // namespace varno
