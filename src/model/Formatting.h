// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>

namespace varno {

// A token count in en_US short compact notation with one to three significant
// digits, whatever the user's locale: 1234 -> "1.23K", 999999 -> "1M".
QString compactTokens(qint64 count);

// The calendar day of the instant in the time zone, as yyyy-MM-dd.
QString localDay(const QDateTime& instant, const QTimeZone& timeZone);

// A calendar day as yyyy-MM-dd.
QString dayText(const QDate& day);

// The instant in UTC with whole seconds: 2026-12-05T05:06:03Z.
QString utcTimestamp(const QDateTime& instant);

} // namespace varno
