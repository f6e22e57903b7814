// SPDX-License-Identifier: MIT
#include "analytics/client/UuidV7.h"

#include <QDateTime>
#include <QRandomGenerator>

namespace varno {

namespace {
constexpr std::uint64_t lowMask = (std::uint64_t(1) << 62) - 1;
constexpr std::uint64_t highLimit = std::uint64_t(1) << 12;
} // namespace

UuidV7::UuidV7(MillisecondClock unixMilliseconds) : clock_(std::move(unixMilliseconds)) {
    if (!clock_)
        clock_ = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

QUuid UuidV7::next() {
    auto* random = QRandomGenerator::global();
    std::int64_t milliseconds = clock_();
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    {
        std::lock_guard lock(mutex_);
        if (milliseconds > lastMilliseconds_) {
            lastMilliseconds_ = milliseconds;
            // The top bit of the counter starts clear, leaving room to count up.
            counterHigh_ = random->generate() & 0x7FF;
            counterLow_ = random->generate64() & lowMask;
        } else {
            // Same millisecond, or the clock went back: count up from the last id.
            counterLow_ += 1 + (random->generate() & 0xFFFF);
            if (counterLow_ > lowMask) {
                counterLow_ &= lowMask;
                if (++counterHigh_ >= highLimit) {
                    ++lastMilliseconds_;
                    counterHigh_ = random->generate() & 0x7FF;
                    counterLow_ = random->generate64() & lowMask;
                }
            }
        }
        milliseconds = lastMilliseconds_;
        high = counterHigh_;
        low = counterLow_;
    }

    QByteArray bytes(16, '\0');
    const auto ms = static_cast<std::uint64_t>(milliseconds);
    for (int i = 0; i < 6; ++i)
        bytes[i] = char((ms >> (40 - 8 * i)) & 0xFF);
    bytes[6] = char(0x70 | ((high >> 8) & 0x0F));
    bytes[7] = char(high & 0xFF);
    bytes[8] = char(0x80 | ((low >> 56) & 0x3F));
    for (int i = 9; i < 16; ++i)
        bytes[i] = char((low >> (8 * (15 - i))) & 0xFF);
    return QUuid::fromRfc4122(bytes);
}

QUuid UuidV7::generate() {
    static UuidV7 shared;
    return shared.next();
}

QString UuidV7::generateString() {
    return toText(generate());
}

QString UuidV7::toText(const QUuid& uuid) {
    return uuid.toString(QUuid::WithoutBraces).toLower();
}

} // namespace varno
