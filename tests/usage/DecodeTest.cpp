#include "model/Errors.h"
#include "usage/CodexBarReader.h"

#include <QDate>
#include <QTimeZone>
#include <gtest/gtest.h>

using varno::AppError;
using varno::CodexBarReader;
using varno::DecodingError;
using varno::UsageSnapshot;

namespace {

const QTimeZone utc = QTimeZone::utc();
// Noon UTC on 1 March 2026: the window runs from 2026-01-31 to 2026-03-01.
const QDateTime noonMarch1 = QDateTime(QDate(2026, 3, 1), QTime(12, 0), utc);

const QString incompleteCodex =
    QStringLiteral("CodexBar could not finish reading codex history. Open CodexBar and try again.");
const QString incompleteClaude = QStringLiteral(
    "CodexBar could not finish reading claude history. Open CodexBar and try again.");
const QString invalidTotals =
    QStringLiteral("CodexBar returned invalid daily totals. Please update CodexBar.");

UsageSnapshot decode(const char* json, const QDateTime& now = noonMarch1,
                     const QTimeZone& zone = utc) {
    return CodexBarReader::decode(QByteArray(json), now, zone);
}

// What decoding says about a document: "" when it is accepted, else the AppError's message.
QString verdict(const char* json) {
    try {
        decode(json);
        return {};
    } catch (const AppError& e) {
        return e.message();
    }
}

qint64 tokensOn(const UsageSnapshot& snapshot, const QString& provider, const QString& date) {
    for (const auto& row : snapshot.daily) {
        if (row.provider == provider && row.date == date)
            return row.totalTokens;
    }
    ADD_FAILURE() << "no row for " << provider.toStdString() << " " << date.toStdString();
    return -1;
}

// The row dates of one provider must be the 30 consecutive days ending on lastDay.
void expectWindowEndingOn(const UsageSnapshot& snapshot, QDate lastDay) {
    ASSERT_EQ(snapshot.daily.size(), 60);
    for (int i = 0; i < 60; ++i) {
        const auto& row = snapshot.daily[i];
        EXPECT_EQ(row.provider, i < 30 ? "codex" : "claude") << i;
        EXPECT_EQ(row.date, lastDay.addDays(i % 30 - 29).toString(Qt::ISODate)) << i;
    }
}

} // namespace

TEST(Decode, BuildsTheWindowCodexFirstWithZerosForMissingDays) {
    // Claude comes first, an unknown provider and unknown members are mixed in, and
    // days outside the window or in another spelling are listed.
    const UsageSnapshot snapshot = decode(R"([
        {"provider": "claude", "source": "local", "historyCoverageIsEstablished": true,
         "daily": [{"date": "2026-03-01", "totalTokens": 7, "costUSD": 0.5, "modelsUsed": ["x"]},
                   {"date": "2026-01-31", "totalTokens": 8}]},
        {"provider": "cursor", "daily": [{"date": "2026-03-01", "totalTokens": 99}]},
        {"provider": "Codex", "daily": [{"date": "2026-02-15", "totalTokens": 98}]},
        {"provider": "codex", "totals": {"totalTokens": 3},
         "daily": [{"date": "2026-01-30", "totalTokens": 1000},
                   {"date": "2026-02-15", "totalTokens": 1},
                   {"date": "2026-3-1", "totalTokens": 500},
                   {"date": "2026-03-02", "totalTokens": 2000},
                   {"date": "2026-03-01", "totalTokens": 1000000000000}]},
        {"provider": "codex", "daily": [{"date": "2026-02-16", "totalTokens": 97}]}
    ])");
    expectWindowEndingOn(snapshot, QDate(2026, 3, 1));
    EXPECT_EQ(snapshot.collectedAt, noonMarch1);
    EXPECT_EQ(tokensOn(snapshot, "codex", "2026-02-15"), 1);
    EXPECT_EQ(tokensOn(snapshot, "codex", "2026-03-01"), 1'000'000'000'000);
    EXPECT_EQ(tokensOn(snapshot, "codex", "2026-02-16"), 0) << "a later codex element was read";
    EXPECT_EQ(tokensOn(snapshot, "claude", "2026-03-01"), 7);
    EXPECT_EQ(tokensOn(snapshot, "claude", "2026-01-31"), 8);
    qint64 sum = 0;
    for (const auto& row : snapshot.daily)
        sum += row.totalTokens;
    EXPECT_EQ(sum, 1 + 1'000'000'000'000 + 7 + 8) << "days outside the window or misspelt counted";
}

TEST(Decode, EmptyHistoriesGiveSixtyZeroRows) {
    const UsageSnapshot snapshot =
        decode(R"([{"provider": "codex", "daily": []}, {"provider": "claude", "daily": []}])");
    expectWindowEndingOn(snapshot, QDate(2026, 3, 1));
    for (const auto& row : snapshot.daily)
        EXPECT_EQ(row.totalTokens, 0);
}

TEST(Decode, JudgesCompletenessAndTotalsCodexFirst) {
    struct Case {
        const char* name;
        const char* json;
        QString expected; // empty: accepted
    };
    const Case cases[] = {
        {"empty array", "[]", incompleteCodex},
        {"no claude element", R"([{"provider": "codex", "daily": []}])", incompleteClaude},
        {"codex without daily", R"([{"provider": "codex"}, {"provider": "claude", "daily": []}])",
         incompleteCodex},
        {"codex daily null",
         R"([{"provider": "codex", "daily": null}, {"provider": "claude", "daily": []}])",
         incompleteCodex},
        {"codex coverage false",
         R"([{"provider": "codex", "daily": [], "historyCoverageIsEstablished": false},
             {"provider": "claude", "daily": []}])",
         incompleteCodex},
        {"claude coverage false, codex fine",
         R"([{"provider": "codex", "daily": []},
             {"provider": "claude", "daily": [], "historyCoverageIsEstablished": false}])",
         incompleteClaude},
        {"coverage absent or null on both",
         R"([{"provider": "codex", "daily": [], "historyCoverageIsEstablished": null},
             {"provider": "claude", "daily": []}])",
         QString()},
        {"first codex incomplete, second complete",
         R"([{"provider": "codex"}, {"provider": "codex", "daily": []},
             {"provider": "claude", "daily": []}])",
         incompleteCodex},
        {"codex incomplete and claude invalid",
         R"([{"provider": "claude", "daily": [{"date": "2026-03-01", "totalTokens": -1}]},
             {"provider": "codex", "historyCoverageIsEstablished": false, "daily": []}])",
         incompleteCodex},
        {"codex invalid and claude missing",
         R"([{"provider": "codex", "daily": [{"date": "2020-01-01", "totalTokens": -5}]}])",
         invalidTotals},
        {"highest total accepted",
         R"([{"provider": "codex", "daily": [{"date": "2026-03-01", "totalTokens": 1000000000000}]},
             {"provider": "claude", "daily": []}])",
         QString()},
        {"one above the highest, outside the window",
         R"([{"provider": "codex", "daily": []},
             {"provider": "claude", "daily": [{"date": "2025-01-01", "totalTokens": 1000000000001}]}])",
         invalidTotals},
        {"negative, outside the window",
         R"([{"provider": "codex", "daily": [{"date": "2027-01-01", "totalTokens": -1}]},
             {"provider": "claude", "daily": []}])",
         invalidTotals},
        {"same day twice with the same total",
         R"([{"provider": "codex", "daily": [{"date": "2026-02-01", "totalTokens": 5},
                                             {"date": "2026-02-01", "totalTokens": 5}]},
             {"provider": "claude", "daily": []}])",
         invalidTotals},
        {"misspelt day twice",
         R"([{"provider": "codex", "daily": [{"date": "2026-3-1", "totalTokens": 5},
                                             {"date": "2026-3-1", "totalTokens": 6}]},
             {"provider": "claude", "daily": []}])",
         invalidTotals},
        {"misspelt day out of range",
         R"([{"provider": "codex", "daily": [{"date": "yesterday", "totalTokens": -2}]},
             {"provider": "claude", "daily": []}])",
         invalidTotals},
        {"same day once per provider",
         R"([{"provider": "codex", "daily": [{"date": "2026-02-01", "totalTokens": 5}]},
             {"provider": "claude", "daily": [{"date": "2026-02-01", "totalTokens": 5}]}])",
         QString()},
        {"bad days in ignored elements",
         R"([{"provider": "codex", "daily": []}, {"provider": "claude", "daily": []},
             {"provider": "codex", "daily": [{"date": "2026-02-01", "totalTokens": -1}]},
             {"provider": "other", "daily": [{"date": "2026-02-01", "totalTokens": -1},
                                             {"date": "2026-02-01", "totalTokens": -1}]}])",
         QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(verdict(c.json), c.expected) << c.name;
}

TEST(Decode, MalformedDocumentsFailWithTheDecodersError) {
    const char* documents[] = {
        "",
        "not json",
        R"({"provider": "codex", "daily": []})",
        R"([{"provider": "codex", "daily": [{"date": "2026-03-01", "totalTokens": 12.5}]},
            {"provider": "claude", "daily": []}])",
        R"([{"provider": "codex", "daily": [{"date": "2026-03-01", "totalTokens": "12"}]},
            {"provider": "claude", "daily": []}])",
        R"([{"provider": "codex", "daily": [{"date": "2026-03-01", "totalTokens": 1e20}]},
            {"provider": "claude", "daily": []}])",
        R"([{"provider": "codex", "daily": [{"date": "2026-03-01"}]}, {"provider": "claude", "daily": []}])",
        R"([{"provider": "codex", "daily": [{"totalTokens": 1}]}, {"provider": "claude", "daily": []}])",
        R"([{"provider": "codex", "daily": [{"date": 20260301, "totalTokens": 1}]}])",
        R"([{"provider": "codex", "daily": {}}, {"provider": "claude", "daily": []}])",
        R"([{"provider": "codex", "daily": [], "historyCoverageIsEstablished": "yes"},
            {"provider": "claude", "daily": []}])",
        R"([{"provider": "codex", "daily": []}, {"provider": "claude", "daily": []}, {"daily": []}])",
        R"([{"provider": null, "daily": []}])",
        // A bad day of a provider nobody reads still fails the whole document.
        R"([{"provider": "codex", "daily": []}, {"provider": "claude", "daily": []},
            {"provider": "other", "daily": [{"date": "2026-03-01", "totalTokens": -0.5}]}])",
    };
    for (const char* json : documents) {
        try {
            decode(json);
            ADD_FAILURE() << "accepted: " << json;
        } catch (const DecodingError& e) {
            EXPECT_STRNE(e.what(), "") << json;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "wrong error \"" << e.what() << "\" for: " << json;
        }
    }
}

TEST(Decode, WindowFollowsTheCalendarOfTheGivenZone) {
    const char* json =
        R"([{"provider": "codex", "daily": [{"date": "2026-01-31", "totalTokens": 3}]},
                           {"provider": "claude", "daily": []}])";
    const QTimeZone newYork("America/New_York");
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(newYork.isValid());
    ASSERT_TRUE(berlin.isValid());
    struct Case {
        const char* name;
        QDateTime now;
        QTimeZone zone;
        QDate lastDay;
    };
    const Case cases[] = {
        {"half past midnight across a month end",
         QDateTime(QDate(2026, 3, 1), QTime(0, 30), newYork), newYork, QDate(2026, 3, 1)},
        {"the same instant given in UTC", QDateTime(QDate(2026, 3, 1), QTime(5, 30), utc), newYork,
         QDate(2026, 3, 1)},
        {"eight hours behind UTC", QDateTime(QDate(2026, 3, 1), QTime(0, 30), utc),
         QTimeZone(-8 * 3600), QDate(2026, 2, 28)},
        {"after spring forward, just past midnight",
         QDateTime(QDate(2026, 4, 10), QTime(0, 30), berlin), berlin, QDate(2026, 4, 10)},
        {"after spring forward, just before midnight",
         QDateTime(QDate(2026, 4, 10), QTime(23, 30), berlin), berlin, QDate(2026, 4, 10)},
        {"window crosses the hour that does not exist",
         QDateTime(QDate(2026, 4, 10), QTime(2, 30), berlin), berlin, QDate(2026, 4, 10)},
        {"after fall back, just before midnight",
         QDateTime(QDate(2026, 11, 20), QTime(23, 30), newYork), newYork, QDate(2026, 11, 20)},
        {"after fall back, just past midnight",
         QDateTime(QDate(2026, 11, 20), QTime(0, 30), newYork), newYork, QDate(2026, 11, 20)},
        {"window crosses a leap day", QDateTime(QDate(2028, 3, 15), QTime(12, 0), utc), utc,
         QDate(2028, 3, 15)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UsageSnapshot snapshot = CodexBarReader::decode(json, c.now, c.zone);
        expectWindowEndingOn(snapshot, c.lastDay);
        EXPECT_EQ(snapshot.collectedAt, c.now);
    }
    const UsageSnapshot monthEnd = CodexBarReader::decode(json, cases[0].now, newYork);
    EXPECT_EQ(monthEnd.daily.front().date, "2026-01-31");
    EXPECT_EQ(monthEnd.daily.front().totalTokens, 3);
}
