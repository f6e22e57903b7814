// SPDX-License-Identifier: MIT
#include "model/UsageHistory.h"

#include <QTimeZone>
#include <gtest/gtest.h>

#include <map>

using namespace varno;

namespace {

const QTimeZone utc = QTimeZone::utc();

DailyUsage row(const char* provider, const char* date, qint64 tokens) {
    return {QString::fromLatin1(provider), QString::fromLatin1(date), tokens};
}

// The days must be 30 calendar days in a row, ending on the given one.
void expectWindowEndingOn(const UsageHistory& history, QDate last) {
    ASSERT_EQ(history.days().size(), UsageHistory::dayCount);
    for (int i = 0; i < UsageHistory::dayCount; ++i)
        ASSERT_EQ(history.days()[i].date, last.addDays(i - 29)) << "day " << i;
}

} // namespace

TEST(UsageHistory, DaysEndTodayStackedByProviderWithZerosAndTheBusiestDay) {
    const QList<DailyUsage> reading{
        row("codex", "2026-11-07", 999'999'999), // a day before the window
        row("codex", "2026-11-08", 5),           row("claude", "2026-12-01", 2'000'000),
        row("codex", "2026-12-07", 1'000'000),   row("claude", "2026-12-07", 234'567),
        row("claude", "2026-12-08", 7), // tomorrow
        row("gemini", "2026-12-06", 50),
    };
    const auto at = [](int day, int hour, int minute = 0) {
        return QDateTime(QDate(2026, 12, day), QTime(hour, minute), utc);
    };
    const struct Case {
        const char* name;
        QList<DailyUsage> rows;
        QDateTime now;
        QTimeZone zone;
        QDate today;
        std::map<int, std::pair<qint64, qint64>> used; // day -> codex, claude; others are 0
        qint64 total;
        std::optional<int> busiest;
    } cases[] = {
        // clang-format off
        {"a reading of today", reading, at(7, 10), utc, QDate(2026, 12, 7),
         {{0, {5, 0}}, {23, {0, 2'000'000}}, {29, {1'000'000, 234'567}}}, 3'234'572, 23},
        {"past midnight, before the next reading", reading, at(8, 0, 10), utc, QDate(2026, 12, 8),
         {{22, {0, 2'000'000}}, {28, {1'000'000, 234'567}}, {29, {0, 7}}}, 3'234'574, 22},
        {"a zone where it is still yesterday", reading, at(7, 3), QTimeZone(-8 * 3600),
         QDate(2026, 12, 6), {{0, {999'999'999, 0}}, {1, {5, 0}}, {24, {0, 2'000'000}}},
         1'002'000'004, 0},
        {"equal days: the later one is the busiest",
         {row("codex", "2026-12-02", 10), row("claude", "2026-12-05", 10)}, at(7, 12), utc,
         QDate(2026, 12, 7), {{24, {10, 0}}, {27, {0, 10}}}, 20, 27},
        {"nothing used", {}, at(7, 12), utc, QDate(2026, 12, 7), {}, 0, std::nullopt},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UsageHistory history(UsageSnapshot{c.rows, c.now}, c.now, c.zone);
        expectWindowEndingOn(history, c.today);
        for (int i = 0; i < UsageHistory::dayCount; ++i) {
            const auto used = c.used.find(i);
            const auto [codex, claude] =
                used == c.used.end() ? std::pair<qint64, qint64>{} : used->second;
            EXPECT_EQ(history.days()[i].codex, codex) << "day " << i;
            EXPECT_EQ(history.days()[i].claude, claude) << "day " << i;
        }
        EXPECT_EQ(history.today().date, c.today);
        EXPECT_EQ(history.total(), c.total);
        EXPECT_EQ(history.busiestDay(), c.busiest);
        EXPECT_EQ(history.peak(), c.busiest ? history.days()[*c.busiest].total() : 0);
    }
}

TEST(UsageHistory, ADayThatDaylightSavingMakesShortOrLongIsStillOneDay) {
    const struct {
        const char* zone;
        QDate change;
    } changes[] = {
        {"Europe/Berlin", QDate(2026, 3, 29)},   {"Europe/Berlin", QDate(2026, 10, 25)},
        {"America/New_York", QDate(2026, 3, 8)}, {"America/New_York", QDate(2026, 11, 1)},
        {"America/Santiago", QDate(2026, 9, 6)}, // clocks skip midnight
        {"America/Havana", QDate(2026, 3, 8)},
    };
    for (const auto& c : changes) {
        const QTimeZone zone(c.zone);
        ASSERT_TRUE(zone.isValid()) << c.zone << " (tzdata)";
        for (int after : {0, 1, 15, 29}) {
            const QDate today = c.change.addDays(after);
            // Counting back in spans of 24 hours goes a day wrong at these times.
            for (const QTime time : {QTime(0, 30), QTime(23, 30)}) {
                if (after == 0 && time < QTime(1, 0))
                    continue; // a midnight that some of these zones skip
                const QDateTime now = QDateTime(today, time, zone).toUTC();
                SCOPED_TRACE(QStringLiteral("%1 %2 %3")
                                 .arg(c.zone, today.toString(Qt::ISODate), time.toString())
                                 .toStdString());
                // Each day of the window used as many tokens as its place in it.
                QList<DailyUsage> rows;
                for (int i = 0; i < 30; ++i)
                    rows.append({"codex", today.addDays(i - 29).toString(Qt::ISODate), i + 1});
                const UsageHistory history(UsageSnapshot{rows, now}, now, zone);
                expectWindowEndingOn(history, today);
                for (int i = 0; i < 30; ++i)
                    EXPECT_EQ(history.days()[i].codex, i + 1) << "day " << i;
                if (HasFailure())
                    return;
            }
        }
    }
}

TEST(UsageHistory, AllMachinesComeFromTheOwnRowAndADayIsSpokenInFull) {
    const User me{"u1", "Me", "me@x.io"};
    const auto dashboard = [&](bool isMe, std::optional<QString> synced, qint64 codex,
                               qint64 total) {
        return Dashboard{me,
                         {LeaderboardEntry{"f1", "Friend", false, 9, 9, 18, "t", {}},
                          LeaderboardEntry{"u1", "Me", isMe, codex, 40, total, synced, {}}},
                         {},
                         {}};
    };
    const std::optional<ProviderTotals> all =
        UsageHistory::allMachines(dashboard(true, "t", 60, 100));
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(std::tuple(all->codex, all->claude, all->total), std::tuple(60, 40, 100));
    EXPECT_FALSE(UsageHistory::allMachines(dashboard(true, std::nullopt, 60, 100)))
        << "never synced: nothing to show";
    EXPECT_FALSE(UsageHistory::allMachines(dashboard(true, "t", 60, -1))) << "no count";
    EXPECT_FALSE(UsageHistory::allMachines(dashboard(true, "t", -60, 100))) << "no count";
    EXPECT_FALSE(UsageHistory::allMachines(dashboard(false, "t", 60, 100))) << "no own row";

    // The date in the words and order of the locale.
    const UsageDay day{QDate(2025, 12, 1), 1'000'000, 234'567};
    EXPECT_EQ(UsageHistory::spoken(day, QLocale(QLocale::English, QLocale::UnitedKingdom)),
              "Monday, 1 December, 1,234,567 tokens: Codex 1,000,000, Claude Code 234,567");
    EXPECT_EQ(UsageHistory::spoken(day, QLocale(QLocale::English, QLocale::UnitedStates)),
              "Monday, December 1, 1,234,567 tokens: Codex 1,000,000, Claude Code 234,567");
    EXPECT_EQ(UsageHistory::spoken(day, QLocale(QLocale::German, QLocale::Germany)),
              "Montag, 1. Dezember, 1.234.567 tokens: Codex 1.000.000, Claude Code 234.567");
    EXPECT_EQ(
        UsageHistory::shortDayName(day.date, QLocale(QLocale::English, QLocale::UnitedStates)),
        "Dec 1");
}
