// SPDX-License-Identifier: MIT
#include "model/Formatting.h"

#include <unicode/locid.h>
#include <unicode/numberformatter.h>
#include <unicode/unistr.h>

namespace varno {

QString compactTokens(qint64 count) {
    using namespace icu::number;
    UErrorCode status = U_ZERO_ERROR;
    const LocalizedNumberFormatter formatter =
        NumberFormatter::withLocale(icu::Locale("en_US"))
            .notation(Notation::compactShort())
            .precision(Precision::minMaxSignificantDigits(1, 3))
            .roundingMode(UNUM_ROUND_HALFEVEN);
    const icu::UnicodeString text = formatter.formatInt(count, status).toString(status);
    if (U_FAILURE(status))
        return QString::number(count);
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

QString localDay(const QDateTime& instant, const QTimeZone& timeZone) {
    return dayText(instant.toTimeZone(timeZone).date());
}

QString dayText(const QDate& day) {
    // QDate::toString with a format always uses the C locale: ASCII digits, Gregorian.
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

QString utcTimestamp(const QDateTime& instant) {
    return instant.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

} // namespace varno
