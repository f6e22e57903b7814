// SPDX-License-Identifier: MIT
#include "ui/ListDiff.h"

#include <algorithm>
#include <vector>

namespace varno {

namespace {

// Marks the elements of a longest strictly increasing subsequence of `values`.
std::vector<bool> longestIncreasing(const std::vector<int>& values) {
    std::vector<int> tails; // index of the smallest tail of each length
    std::vector<int> previous(values.size(), -1);
    for (int i = 0; i < int(values.size()); ++i) {
        const auto at =
            std::lower_bound(tails.begin(), tails.end(), values[i],
                             [&](int index, int value) { return values[index] < value; });
        if (at != tails.begin())
            previous[i] = *(at - 1);
        if (at == tails.end())
            tails.push_back(i);
        else
            *at = i;
    }
    std::vector<bool> kept(values.size(), false);
    for (int i = tails.empty() ? -1 : tails.back(); i >= 0; i = previous[i])
        kept[i] = true;
    return kept;
}

} // namespace

ListDiff ListDiff::between(const QStringList& before, const QStringList& after,
                           const KeyIndex& newPosition, int maxSteps) {
    ListDiff diff;
    // The first load, or the last rows gone: one step.
    if (before.isEmpty() != after.isEmpty()) {
        const auto& rows = before.isEmpty() ? after : before;
        diff.steps.append(
            {before.isEmpty() ? Step::Kind::insert : Step::Kind::remove, 0, int(rows.size()) - 1});
        return diff;
    }
    const auto tooMany = [] {
        ListDiff reordering;
        reordering.reorder = true;
        return reordering;
    };

    // Where each old row goes, or -1 when it goes away.
    std::vector<int> target(before.size());
    for (int i = 0; i < before.size(); ++i)
        target[i] = newPosition.indexOf(before[i]);

    // Removals from the bottom up, so that the rows above keep their numbers.
    for (int i = int(before.size()) - 1; i >= 0; --i) {
        if (target[i] >= 0)
            continue;
        const int last = i;
        while (i > 0 && target[i - 1] < 0)
            --i;
        diff.steps.append({Step::Kind::remove, i, last});
        if (diff.steps.size() > maxSteps)
            return tooMany();
    }
    // The rows that stay, by their new position, in their old order.
    std::vector<int> current;
    current.reserve(before.size());
    std::vector<bool> stays(after.size(), false);
    for (int position : target) {
        if (position >= 0) {
            current.push_back(position);
            stays[position] = true;
        }
    }
    int insertions = 0;
    for (int i = 0; i < int(after.size()); ++i)
        if (!stays[i] && (i == 0 || stays[i - 1]))
            ++insertions;
    // The longest run already in order stays put; every other row moves once.
    const std::vector<bool> inOrder = longestIncreasing(current);
    const auto movers = std::count(inOrder.begin(), inOrder.end(), false);
    if (diff.steps.size() + movers + insertions > maxSteps)
        return tooMany();

    // Each row that moves goes right after the row that precedes it in the new order
    // (or to the top). Taken in the new order, this ends in the new order.
    std::vector<int> moving;
    for (int i = 0; i < int(current.size()); ++i)
        if (!inOrder[i])
            moving.push_back(current[i]);
    std::sort(moving.begin(), moving.end());
    for (int position : moving) {
        const int from = int(std::find(current.begin(), current.end(), position) - current.begin());
        int predecessor = -1; // the previous row of the new order that stays
        for (int p = position - 1; p >= 0 && predecessor < 0; --p)
            if (stays[p])
                predecessor = int(std::find(current.begin(), current.end(), p) - current.begin());
        const int destination = predecessor + 1;
        if (destination == from || destination == from + 1)
            continue; // already there
        diff.steps.append({Step::Kind::move, from, from, destination});
        current.erase(current.begin() + from);
        current.insert(current.begin() + (destination > from ? destination - 1 : destination),
                       position);
    }

    // Insertions from the top down, each run at its final place.
    for (int i = 0; i < int(after.size()); ++i) {
        if (stays[i])
            continue;
        const int first = i;
        while (i + 1 < int(after.size()) && !stays[i + 1])
            ++i;
        diff.steps.append({Step::Kind::insert, first, i});
    }
    return diff;
}

} // namespace varno
