#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <functional>

class QScrollArea;
class QVBoxLayout;
class QWidget;

namespace varno {

// The rows of a scrolling list, kept by key: an update changes rows in place rather
// than rebuilding the list, so the scroll position, pictures and focus stay. While
// the pointer is over the list, rows keep their places (their contents still change):
// new rows join at the end, rows that are gone stay (disabled) and a new order waits
// until the pointer leaves. Only a row whose own action removes it leaves at once.
class RowList : public QObject {
    Q_OBJECT
public:
    // Builds a row for a key; it is shown in the list's content widget.
    using Make = std::function<QWidget*(const QString& key)>;
    // Brings an existing row up to date; position is its 0-based place as shown.
    using Update = std::function<void(QWidget* row, const QString& key, int position)>;

    RowList(QScrollArea* area, int spacing);

    // Shows the rows for `keys`, in that order once the pointer is elsewhere. Keys
    // must be unique.
    void apply(const QStringList& keys, const Make& make, const Update& update);
    // The row's own action (e.g. answering a request) may remove it while the pointer
    // is over the list.
    void allowRemoval(const QString& key) { removable_.insert(key); }

    QStringList shownKeys() const { return shown_; }
    QWidget* row(const QString& key) const { return rows_.value(key); }
    int count() const { return int(shown_.size()); }
    QWidget* content() const { return content_; }
    QVBoxLayout* layout() const { return layout_; }
    // Whether the list waits for the pointer to leave before taking its new order.
    bool isHeld() const { return held_; }
    bool pointerInside() const;

signals:
    // The pointer left while the list was held: apply again.
    void released();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void releaseIfPointerLeft();
    QScrollArea* area_;
    QWidget* content_;
    QVBoxLayout* layout_;
    QStringList shown_;
    QHash<QString, QWidget*> rows_;
    QSet<QString> removable_;
    bool held_ = false;
    QTimer releaseCheck_;
};

} // namespace varno
