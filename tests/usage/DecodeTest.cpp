// SPDX-License-Identifier: MIT
#include "model/Errors.h"
#include "usage/CodexBarReader.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace varno;

namespace {

const QTimeZone utc = QTimeZone::utc();
// Noon UTC on 1 March 2026: the window runs from 2026-01-31 to 2026-03-01.
const QDateTime noonMarch1(QDate(2026, 3, 1), QTime(12, 0), utc);

QString incomplete(const QString& provider) {
    return "CodexBar could not finish reading " + provider +
           " history. Open CodexBar and try again.";
}
const QString invalidTotals = "CodexBar returned invalid daily totals. Please update CodexBar.";
const QString malformed = "(malformed)";

// A document with one codex and one claude element, each given by its other members.
std::string both(const std::string& codex, const std::string& claude) {
    return R"([{"provider":"codex",)" + codex + R"(},{"provider":"claude",)" + claude + "}]";
}
std::string daily(const std::string& entries) {
    return R"("daily":[)" + entries + "]";
}
std::string day(const std::string& date, const std::string& tokens) {
    return R"({"date":")" + date + R"(","totalTokens":)" + tokens + "}";
}
const std::string none = daily("");

// "" when the document is accepted, `malformed` for a decoder error, else the refusal's message.
QString verdict(const std::string& json) {
    try {
        CodexBarReader::decode(QByteArray::fromStdString(json), noonMarch1, utc);
    } catch (const DecodingError&) {
        return malformed;
    } catch (const AppError& e) {
        return e.message();
    }
    return {};
}

// Checks that the rows are the 30 days ending on lastDay, codex first and oldest first, and
// returns the rows with tokens as "provider date tokens".
QStringList usedDays(const UsageSnapshot& snapshot, QDate lastDay) {
    EXPECT_EQ(snapshot.daily.size(), 60);
    QStringList used;
    for (int i = 0; i < snapshot.daily.size(); ++i) {
        const auto& row = snapshot.daily[i];
        EXPECT_EQ(row.provider, i < 30 ? "codex" : "claude") << i;
        EXPECT_EQ(row.date.toStdString(),
                  lastDay.addDays(i % 30 - 29).toString(Qt::ISODate).toStdString())
            << i;
        if (row.totalTokens != 0)
            used << QString("%1 %2 %3").arg(row.provider, row.date).arg(row.totalTokens);
    }
    return used;
}

} // namespace

TEST(Decode, BuildsTheWindowCodexFirstWithZerosForMissingDays) {
    // Claude comes first; an unknown provider, a misspelt one, unknown members, days outside
    // the window or in another spelling, and a second codex element are all left out.
    const UsageSnapshot snapshot = CodexBarReader::decode(R"([
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
    ])",
                                                          noonMarch1, utc);
    EXPECT_EQ(usedDays(snapshot, QDate(2026, 3, 1)),
              (QStringList{"codex 2026-02-15 1", "codex 2026-03-01 1000000000000",
                           "claude 2026-01-31 8", "claude 2026-03-01 7"}));
    EXPECT_EQ(snapshot.collectedAt, noonMarch1);
}

TEST(Decode, JudgesCompletenessAndTotalsCodexFirstAndRefusesMalformedDocuments) {
    const std::string coverageFalse = R"("historyCoverageIsEstablished":false,)" + none;
    const std::string fine = both(none, none);
    const auto plus = [&](const std::string& element) { // fine, with one more element
        return fine.substr(0, fine.size() - 1) + "," + element + "]";
    };
    const struct {
        std::string json;
        QString expected;
    } cases[] = {
        {fine, ""},
        {"[]", incomplete("codex")},
        {R"([{"provider":"codex","daily":[]}])", incomplete("claude")},
        {both(R"("source":"local")", none), incomplete("codex")},
        {both(R"("daily":null)", none), incomplete("codex")},
        {both(coverageFalse, none), incomplete("codex")},
        {both(none, coverageFalse), incomplete("claude")},
        {both(R"("historyCoverageIsEstablished":null,)" + none, none), ""},
        // Only the first codex element counts, and codex is judged before claude.
        {R"([{"provider":"codex"},{"provider":"codex","daily":[]},{"provider":"claude","daily":[]}])",
         incomplete("codex")},
        {both(coverageFalse, daily(day("2026-03-01", "-1"))), incomplete("codex")},
        {R"([{"provider":"codex","daily":[{"date":"2020-01-01","totalTokens":-5}]}])",
         invalidTotals},
        // Totals are judged on every listed day, in the window or not.
        {both(daily(day("2026-03-01", "1000000000000")), none), ""},
        {both(none, daily(day("2025-01-01", "1000000000001"))), invalidTotals},
        {both(daily(day("2027-01-01", "-1")), none), invalidTotals},
        {both(daily(day("2026-02-01", "5") + "," + day("2026-02-01", "5")), none), invalidTotals},
        {both(daily(day("2026-02-01", "5")), daily(day("2026-02-01", "5"))), ""},
        // Elements nobody reads are not judged, but must still be well-formed.
        {plus(R"({"provider":"codex",)" + daily(day("2026-02-01", "-1")) + "}"), ""},
        {plus(R"({"provider":"other",)" +
              daily(day("2026-02-01", "-1") + "," + day("2026-02-01", "-1")) + "}"),
         ""},
        {plus(R"({"provider":"other",)" + daily(day("2026-03-01", "-0.5")) + "}"), malformed},
        {plus(R"({"daily":[]})"), malformed},
        {"not json", malformed},
        {R"({"provider":"codex","daily":[]})", malformed},
        {R"([{"provider":null,"daily":[]}])", malformed},
        {both(daily(day("2026-03-01", "12.5")), none), malformed},
        {both(daily(day("2026-03-01", "1e20")), none), malformed},
        {both(daily(R"({"totalTokens":1})"), none), malformed},
        {both(R"("daily":{})", none), malformed},
        {both(R"("historyCoverageIsEstablished":"yes",)" + none, none), malformed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(verdict(c.json), c.expected) << c.json;
}

TEST(Decode, WindowFollowsTheCalendarOfTheGivenZone) {
    const QByteArray json = QByteArray::fromStdString(both(daily(day("2026-03-01", "3")), none));
    const QTimeZone newYork("America/New_York"), berlin("Europe/Berlin");
    ASSERT_TRUE(newYork.isValid() && berlin.isValid());
    const struct {
        QDateTime now;
        QTimeZone zone;
        QDate lastDay;
    } cases[] = {
        {QDateTime(QDate(2026, 3, 1), QTime(0, 30), newYork), newYork, QDate(2026, 3, 1)},
        {QDateTime(QDate(2026, 3, 1), QTime(0, 30), utc), QTimeZone(-8 * 3600), QDate(2026, 2, 28)},
        // Counting back whole days of 24 hours would start these windows a day off.
        {QDateTime(QDate(2026, 4, 10), QTime(0, 30), berlin), berlin, QDate(2026, 4, 10)},
        {QDateTime(QDate(2026, 11, 20), QTime(23, 30), newYork), newYork, QDate(2026, 11, 20)},
        {QDateTime(QDate(2028, 3, 15), QTime(12, 0), utc), utc, QDate(2028, 3, 15)}, // leap day
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.now.toString(Qt::ISODate).toStdString());
        const UsageSnapshot snapshot = CodexBarReader::decode(json, c.now, c.zone);
        // The 3 tokens of 1 March count only in the window that ends on that day.
        EXPECT_EQ(usedDays(snapshot, c.lastDay).contains("codex 2026-03-01 3"),
                  c.lastDay == QDate(2026, 3, 1));
    }
}

TEST(Decode, WindowStepsBackByCalendarDaysWhereClocksSkipMidnight) {
    // Zones whose clocks jump from 00:00 to 01:00 on the day daylight-saving time starts.
    const struct {
        const char* zone;
        QDate change;
    } changes[] = {
        {"America/Santiago", QDate(2026, 9, 6)},
        {"America/Havana", QDate(2026, 3, 8)},
        {"Asia/Beirut", QDate(2026, 3, 29)},
    };
    const QByteArray json = QByteArray::fromStdString(both(none, none));
    for (const auto& c : changes) {
        const QTimeZone zone(c.zone);
        ASSERT_TRUE(zone.isValid()) << c.zone << " (tzdata)";
        // Every window whose days include the change, at both ends of the night; on the
        // day of the change itself the night starts at 01:00.
        for (int after = 0; after <= 30; ++after) {
            const QDate today = c.change.addDays(after);
            for (const QTime time : {QTime(0, 0), QTime(0, 30), QTime(0, 59, 59), QTime(1, 0),
                                     QTime(23, 0), QTime(23, 59, 59)}) {
                if (after == 0 && time < QTime(1, 0))
                    continue;
                const QDateTime now = QDateTime(today, time, zone).toUTC();
                SCOPED_TRACE(QStringLiteral("%1 %2 %3")
                                 .arg(c.zone, today.toString(Qt::ISODate), time.toString())
                                 .toStdString());
                const UsageSnapshot snapshot = CodexBarReader::decode(json, now, zone);
                usedDays(snapshot, today);
                EXPECT_EQ(snapshot.collectedAt, now);
                if (HasFailure())
                    return; // one wrong window is enough to read
            }
        }
    }
}
