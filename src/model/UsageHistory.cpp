// SPDX-License-Identifier: MIT
#include "model/UsageHistory.h"

#include "model/Formatting.h"
#include "model/Ranking.h"

#include <QHash>

#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <memory>

namespace varno {

namespace {

QString fromIcu(const icu::UnicodeString& text) {
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

// A date without the year, in the locale's best pattern for the skeleton.
QString formatDay(const QDate& date, const QLocale& locale, const char16_t* skeleton) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale icuLocale =
        icu::Locale::forLanguageTag(locale.bcp47Name().toStdString(), status);
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(icuLocale, status));
    if (U_FAILURE(status))
        return locale.toString(date, QLocale::ShortFormat);
    const icu::UnicodeString pattern = generator->getBestPattern(skeleton, status);
    icu::SimpleDateFormat format(pattern, icuLocale, status);
    if (U_FAILURE(status))
        return locale.toString(date, QLocale::ShortFormat);
    format.setTimeZone(*icu::TimeZone::getGMT());
    const QDateTime noon(date, QTime(12, 0), QTimeZone::utc());
    icu::UnicodeString text;
    format.format(static_cast<UDate>(noon.toMSecsSinceEpoch()), text);
    return fromIcu(text);
}

} // namespace

UsageHistory::UsageHistory(const QDateTime& now, const QTimeZone& zone) {
    // Calendar days, not spans of 24 hours: a daylight-saving day stays one day.
    const QDate last = now.toTimeZone(zone).date();
    days_.reserve(dayCount);
    for (int offset = dayCount - 1; offset >= 0; --offset)
        days_.append(UsageDay{last.addDays(-offset)});
}

UsageHistory::UsageHistory(const UsageSnapshot& snapshot, const QDateTime& now,
                           const QTimeZone& zone)
    : UsageHistory(now, zone) {
    QHash<QString, int> index;
    for (int i = 0; i < days_.size(); ++i)
        index.insert(dayText(days_[i].date), i);
    for (const DailyUsage& row : snapshot.daily) {
        const auto at = index.constFind(row.date);
        // Rows outside the window, and totals that are no count, are left out.
        if (at == index.constEnd() || row.totalTokens < 0)
            continue;
        UsageDay& day = days_[*at];
        if (row.provider == QLatin1String("codex"))
            day.codex = row.totalTokens;
        else if (row.provider == QLatin1String("claude"))
            day.claude = row.totalTokens;
    }
}

ProviderTotals UsageHistory::totals() const {
    ProviderTotals sums;
    for (const UsageDay& day : days_) {
        sums.codex += day.codex;
        sums.claude += day.claude;
    }
    sums.total = sums.codex + sums.claude;
    return sums;
}

std::optional<int> UsageHistory::busiestDay() const {
    std::optional<int> busiest;
    for (int i = 0; i < days_.size(); ++i)
        if (days_[i].total() > 0 && (!busiest || days_[i].total() >= days_[*busiest].total()))
            busiest = i;
    return busiest;
}

qint64 UsageHistory::peak() const {
    const std::optional<int> busiest = busiestDay();
    return busiest ? days_[*busiest].total() : 0;
}

std::optional<ProviderTotals> UsageHistory::allMachines(const Dashboard& dashboard) {
    for (const LeaderboardEntry& entry : dashboard.leaderboard) {
        if (!entry.isMe)
            continue;
        if (!showsTotal(entry) || entry.codex < 0 || entry.claude < 0)
            return std::nullopt;
        return ProviderTotals{entry.codex, entry.claude, entry.total};
    }
    return std::nullopt;
}

QString UsageHistory::dayName(const QDate& date, const QLocale& locale) {
    // The locale's own order and words: "Monday 1 December" in Britain, "Monday,
    // December 1" in the United States.
    return formatDay(date, locale, u"EEEEdMMMM");
}

QString UsageHistory::shortDayName(const QDate& date, const QLocale& locale) {
    return formatDay(date, locale, u"MMMd");
}

QString UsageHistory::split(const UsageDay& day, const QLocale& locale, const QString& separator) {
    return QStringLiteral("Codex %1%2Claude Code %3")
        .arg(locale.toString(day.codex), separator, locale.toString(day.claude));
}

QString UsageHistory::spoken(const UsageDay& day, const QLocale& locale) {
    return QStringLiteral("%1, %2 tokens: %3")
        .arg(dayName(day.date, locale), locale.toString(day.total()), split(day, locale));
}

} // namespace varno
