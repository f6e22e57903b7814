// SPDX-License-Identifier: MIT
// "Retry-After" as the ingestion host sends it: a usable hint is a finite, non-negative
// number of seconds; anything else gives none.

#include "FuzzCheck.h"
#include "analytics/client/TelemetryApi.h"

#include <cmath>
#include <cstdint>

using namespace varno;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    const QString value = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const std::optional<double> seconds = parseRetryAfter(value, now))
        FUZZ_CHECK(std::isfinite(*seconds) && *seconds >= 0);
    return 0;
}
