// SPDX-License-Identifier: MIT
// CodexBar's daily totals, decoded as a reading would: the first byte picks the time
// zone, the rest is the tool's output. The output either becomes 30 consecutive days
// per provider ending today, codex first, with totals in range, or is refused with a
// decoding error or one of the reader's sentences.

#include "FuzzCheck.h"
#include "model/Errors.h"
#include "model/Formatting.h"
#include "usage/CodexBarReader.h"

#include <QTimeZone>

#include <cstdint>

using namespace varno;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static const QList<QTimeZone> zones = {
        QTimeZone(Qt::UTC), QTimeZone("America/New_York"), QTimeZone("Pacific/Kiritimati"),
        QTimeZone("Australia/Lord_Howe"), QTimeZone("Pacific/Pago_Pago")};
    const QTimeZone zone = zones[data[0] % zones.size()];
    const QDateTime now(QDate(2026, 3, 8), QTime(0, 30), Qt::UTC);
    const QByteArray output(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    try {
        const UsageSnapshot snapshot = CodexBarReader::decode(output, now, zone);
        FUZZ_CHECK(snapshot.collectedAt == now);
        FUZZ_CHECK(snapshot.daily.size() == 60);
        for (qsizetype i = 0; i < snapshot.daily.size(); ++i) {
            const DailyUsage& day = snapshot.daily[i];
            FUZZ_CHECK(day.provider == (i < 30 ? QLatin1String("codex") : QLatin1String("claude")));
            FUZZ_CHECK(day.totalTokens >= 0 && day.totalTokens <= 1'000'000'000'000);
            FUZZ_CHECK(QDate::fromString(day.date, Qt::ISODate).isValid());
            if (i % 30 != 0)
                FUZZ_CHECK(QDate::fromString(snapshot.daily[i - 1].date, Qt::ISODate).addDays(1) ==
                           QDate::fromString(day.date, Qt::ISODate));
        }
        FUZZ_CHECK(snapshot.daily[29].date == localDay(now, zone));
        FUZZ_CHECK(snapshot.daily[59].date == localDay(now, zone));
    } catch (const DecodingError&) {
    } catch (const AppError& error) {
        FUZZ_CHECK(error.message() ==
                       "CodexBar returned invalid daily totals. Please update CodexBar." ||
                   error.message().startsWith("CodexBar could not finish reading "));
    }
    return 0;
}
