// SPDX-License-Identifier: MIT
#pragma once

#include "model/KeyIndex.h"

#include <QList>
#include <QStringList>

namespace varno {

// The steps that turn one list of unique keys into another: removals, then moves, then
// insertions, each in the terms of Qt's item models, so that a view can follow them row
// by row (keeping its scroll position, hover, focus and what a screen reader knows)
// instead of starting over.
struct ListDiff {
    struct Step {
        enum class Kind { remove, move, insert };
        Kind kind;
        int first; // remove, insert: the rows [first, last]; move: the row that moves
        int last;
        // move: the row it goes before, counted before the move (Qt's destination)
        int destination = -1;
    };
    QList<Step> steps;
    // Too many steps to be worth taking one by one: the new order is one reordering.
    bool reorder = false;

    // At most maxSteps steps; more make it a reordering. afterPositions gives each key's
    // place in `after`.
    static ListDiff between(const QStringList& before, const QStringList& after,
                            const KeyIndex& afterPositions, int maxSteps);
};

} // namespace varno
