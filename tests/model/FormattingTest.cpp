// SPDX-License-Identifier: MIT
#include "model/Formatting.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace varno;

TEST(Formatting, CompactTokensMatchesEnglishShortNotation) {
    const std::pair<qint64, const char*> cases[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1K"},
        {1234, "1.23K"},
        {1235, "1.24K"}, // tie, to even
        {1225, "1.22K"}, // tie, to even
        {12345, "12.3K"},
        {123456, "123K"},
        {999499, "999K"},
        {999999, "1M"}, // rounding carries into the next scale
        {1500000, "1.5M"},
        {2000000000, "2B"},
        {1000000000000, "1T"},
        {1234000000000000, "1230T"}, // still three significant digits
        {-1234, "-1.23K"},
        {-999999, "-1M"},
        {std::numeric_limits<qint64>::max(), "9,220,000T"},
    };
    for (const auto& [count, expected] : cases)
        EXPECT_EQ(compactTokens(count), QString::fromUtf8(expected)) << count;
}

TEST(Formatting, CompactTokensIgnoresTheUserLocale) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::string saved = setlocale(LC_ALL, nullptr);
    setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(compactTokens(1234), QStringLiteral("1.23K"));
    setlocale(LC_ALL, saved.c_str());
    QLocale::setDefault(previous);
}

TEST(Formatting, LocalDayFollowsTheTimeZone) {
    const QDateTime instant(QDate(2026, 3, 1), QTime(0, 30), QTimeZone::utc());
    EXPECT_EQ(localDay(instant, QTimeZone::utc()), QStringLiteral("2026-03-01"));
    EXPECT_EQ(localDay(instant, QTimeZone(-8 * 3600)), QStringLiteral("2026-02-28"));
    EXPECT_EQ(localDay(instant, QTimeZone("Pacific/Kiritimati")), QStringLiteral("2026-03-01"));
    EXPECT_EQ(
        localDay(QDateTime(QDate(33, 1, 2), QTime(12, 0), QTimeZone::utc()), QTimeZone::utc()),
        QStringLiteral("0033-01-02"));
}

TEST(Formatting, UtcTimestampTruncatesToSecondsInUtc) {
    const QDateTime instant(QDate(2026, 12, 5), QTime(5, 6, 3, 700), QTimeZone::utc());
    EXPECT_EQ(utcTimestamp(instant), QStringLiteral("2026-12-05T05:06:03Z"));
    EXPECT_EQ(utcTimestamp(instant.toTimeZone(QTimeZone("Asia/Tokyo"))),
              QStringLiteral("2026-12-05T05:06:03Z"));
    EXPECT_EQ(utcTimestamp(instant).size(), 20);
}
