// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QUuid>

#include <cstdint>
#include <functional>
#include <mutex>

namespace varno {

// Version-7 UUIDs: 48 bits of Unix milliseconds, then 74 bits that count up within
// a millisecond, so ids sort by creation time even when many are made in the same
// millisecond or the wall clock steps back. Safe to use from any thread.
class UuidV7 {
public:
    using MillisecondClock = std::function<std::int64_t()>;

    explicit UuidV7(MillisecondClock unixMilliseconds = {});

    QUuid next();

    // The process-wide generator.
    static QUuid generate();
    // Lower-case text without braces, as used for file names and ids.
    static QString generateString();
    static QString toText(const QUuid& uuid);

private:
    MillisecondClock clock_;
    std::mutex mutex_;
    std::int64_t lastMilliseconds_ = -1;
    std::uint64_t counterHigh_ = 0; // 12 bits (rand_a)
    std::uint64_t counterLow_ = 0;  // 62 bits (rand_b)
};

} // namespace varno
