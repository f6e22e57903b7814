// SPDX-License-Identifier: MIT
#include "model/KeyIndex.h"

#include <QHashFunctions>

#include <bit>

namespace varno {

namespace {

// At most half full, so that probes stay short.
size_t slotsFor(qsizetype count) {
    return std::bit_ceil(size_t(std::max<qsizetype>(count, 4)) * 2);
}

} // namespace

KeyIndex::KeyIndex(QStringList keys) : keys_(std::move(keys)) {
    rebuild(slotsFor(keys_.size()));
}

void KeyIndex::reserve(qsizetype count) {
    if (slotsFor(count) > slots_.size())
        rebuild(slotsFor(count));
    keys_.reserve(count);
}

void KeyIndex::rebuild(size_t slotCount) {
    slots_.assign(slotCount, 0);
    repeats_ = false;
    for (qsizetype i = 0; i < keys_.size(); ++i) {
        // Read through a const list: a shared one would otherwise be copied whole.
        qint32& slot = slots_[slotFor(std::as_const(keys_)[i])];
        if (slot == 0)
            slot = qint32(i + 1);
        else
            repeats_ = true;
    }
}

size_t KeyIndex::slotFor(const QString& key) const {
    // The process's random seed: ids come from outside, and a fixed one would let a
    // server make every key collide.
    const size_t mask = slots_.size() - 1;
    for (size_t slot = qHash(key, QHashSeed::globalSeed()) & mask;; slot = (slot + 1) & mask) {
        const qint32 held = slots_[slot];
        if (held == 0 || keys_[held - 1] == key)
            return slot;
    }
}

bool KeyIndex::append(const QString& key) {
    if (slots_.empty() || size_t(keys_.size() + 1) * 2 > slots_.size())
        rebuild(slotsFor(keys_.size() + 1));
    qint32& slot = slots_[slotFor(key)];
    if (slot != 0)
        return false;
    keys_.append(key);
    slot = qint32(keys_.size());
    return true;
}

int KeyIndex::indexOf(const QString& key) const {
    if (slots_.empty())
        return -1;
    return slots_[slotFor(key)] - 1;
}

} // namespace varno
