// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

#include <vector>

namespace varno {

// Where each key of a list is: a hash table that keeps only positions into the list
// itself, 4 bytes a slot. For the 100,000 ids of a long leaderboard a QHash<QString,
// int> or QSet<QString> takes about ten times as much, and a sync holds several.
class KeyIndex {
public:
    KeyIndex() = default;
    // Every key of `keys`; a repeated key is found at its first place.
    explicit KeyIndex(QStringList keys);

    // Room for `count` keys without growing.
    void reserve(qsizetype count);
    // Appends `key` unless the list holds it already; returns whether it did.
    bool append(const QString& key);

    // The first place of `key`, or -1.
    int indexOf(const QString& key) const;
    bool contains(const QString& key) const { return indexOf(key) >= 0; }
    // Whether some key is in the list more than once.
    bool hasRepeats() const { return repeats_; }

    const QStringList& keys() const { return keys_; }
    qsizetype size() const { return keys_.size(); }

private:
    // The slot that holds `key`, or the free slot where it would go.
    size_t slotFor(const QString& key) const;
    void rebuild(size_t slotCount);

    QStringList keys_;
    std::vector<qint32> slots_; // a key's place plus one; 0 is a free slot
    bool repeats_ = false;
};

} // namespace varno
