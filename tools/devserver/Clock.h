// SPDX-License-Identifier: MIT
#pragma once

#include <QDate>
#include <QDateTime>

#include <atomic>
#include <cstdint>

namespace varno::devserver {

// The server's notion of now. Development endpoints can move it forward so that
// expiry can be tried out without waiting.
class Clock {
public:
    QDateTime nowUtc() const { return QDateTime::currentDateTimeUtc().addMSecs(offsetMs_.load()); }
    std::int64_t nowMs() const { return nowUtc().toMSecsSinceEpoch(); }
    QDate today() const { return nowUtc().toLocalTime().date(); }
    void advance(std::int64_t seconds) { offsetMs_ += seconds * 1000; }

    // ISO 8601 in UTC with whole seconds, e.g. 2026-03-01T12:00:00Z.
    static QString isoText(const QDateTime& time) { return time.toUTC().toString(Qt::ISODate); }

private:
    std::atomic<std::int64_t> offsetMs_{0};
};

} // namespace varno::devserver
