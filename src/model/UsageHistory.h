// SPDX-License-Identifier: MIT
#pragma once

#include "model/Records.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QTimeZone>

#include <optional>

namespace varno {

// One local day of the user's own usage, by provider.
struct UsageDay {
    QDate date;
    qint64 codex = 0;
    qint64 claude = 0;

    qint64 total() const { return codex + claude; }
    bool operator==(const UsageDay&) const = default;
};

// Tokens of the 30 days by provider and in all, of one machine or of every one.
struct ProviderTotals {
    qint64 codex = 0;
    qint64 claude = 0;
    qint64 total = 0;
};

// The user's own 30 days as the usage chart shows them: one entry per local calendar
// day, oldest first, ending today in the given zone, whatever days the reading holds
// (a reading from before midnight has nothing for the new day yet). A day that daylight
// saving makes 23 or 25 hours long is still one day.
class UsageHistory {
public:
    static constexpr int dayCount = 30;

    // No reading: 30 days of nothing.
    UsageHistory(const QDateTime& now, const QTimeZone& zone);
    UsageHistory(const UsageSnapshot& snapshot, const QDateTime& now, const QTimeZone& zone);

    const QList<UsageDay>& days() const { return days_; }
    const UsageDay& today() const { return days_.last(); }
    // This computer's tokens over the 30 days, by provider and in all.
    ProviderTotals totals() const;
    qint64 total() const { return totals().total; }
    // The day with the most tokens (the later one of equals); none while every day is 0.
    std::optional<int> busiestDay() const;
    // The largest day's total, which the bars are scaled to.
    qint64 peak() const;

    // The 30-day totals over all the user's machines: the leaderboard's own row, while
    // it has synced and its numbers are counts.
    static std::optional<ProviderTotals> allMachines(const Dashboard& dashboard);

    // "Monday 1 December" (the order and words of the locale).
    static QString dayName(const QDate& date, const QLocale& locale = QLocale());
    // "1 Dec" or "Dec 1", as the locale writes it.
    static QString shortDayName(const QDate& date, const QLocale& locale = QLocale());
    // "Codex 1,000,000, Claude Code 234,567".
    static QString split(const UsageDay& day, const QLocale& locale = QLocale(),
                         const QString& separator = QStringLiteral(", "));
    // What a screen reader says of a day: "Monday 1 December, 1,234,567 tokens: Codex
    // 1,000,000, Claude Code 234,567".
    static QString spoken(const UsageDay& day, const QLocale& locale = QLocale());

private:
    QList<UsageDay> days_;
};

} // namespace varno
