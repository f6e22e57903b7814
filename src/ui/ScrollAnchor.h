// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QAbstractScrollArea;

namespace varno {

class KeyedListModel;

// Keeps one row where it is on screen while rows are inserted, removed or moved
// elsewhere, as browsers anchor their scrolling: the row under the pointer, or without
// a pointer the first row in view. A list at its top without the pointer on it stays at
// the top, so that rows arriving there are seen. A row that goes away leaves its place
// to the next one that stays.
class ScrollAnchor {
public:
    // Before an update of the list the area shows, whose rows are `stride` apart.
    void capture(const KeyedListModel& model, const QAbstractScrollArea& area, int stride);
    // After it: the scroll position that puts the anchor back where it was, or none
    // when there is nothing to keep.
    std::optional<int> scrollAfter(const KeyedListModel& model, int stride) const;

private:
    // Where the pointer is in the area's viewport, when it is over it.
    static std::optional<int> pointerY(const QAbstractScrollArea& area);

    bool active_ = false;
    int row_ = 0;
    int offset_ = 0; // the row's top in the viewport
    // The anchor's key and those of the rows after it, to fall back on.
    QStringList keys_;
};

} // namespace varno
