// SPDX-License-Identifier: MIT
#include "UsageService.h"

#include "JsonInput.h"
#include "Reply.h"

#include <QJsonArray>

#include <set>
#include <utility>

namespace varno::devserver {

UsageUpload UsageUpload::fromJson(const QJsonObject& body) {
    UsageUpload upload;
    upload.deviceId = requiredText(body, QStringLiteral("deviceId"));

    const auto collected = body.value(QStringLiteral("collectedAt"));
    const auto collectedAt = collected.isString()
                                 ? QDateTime::fromString(collected.toString(), Qt::ISODate)
                                 : QDateTime();
    // Without an offset the time would silently mean the server's local time.
    if (!collectedAt.isValid() || collectedAt.timeSpec() == Qt::LocalTime)
        throw badRequest(QStringLiteral("collectedAt must be an ISO 8601 time with a time zone, "
                                        "such as 2026-03-01T12:00:00Z."));
    upload.collectedAt = collectedAt.toUTC().toString(Qt::ISODate);

    const auto daily = body.value(QStringLiteral("daily"));
    if (!daily.isArray())
        throw badRequest(QStringLiteral("daily must be a list of daily totals."));
    const QJsonArray rows = daily.toArray();
    if (rows.size() > maxRows)
        throw badRequest(QStringLiteral("daily has %1 rows; at most %2 are accepted.")
                             .arg(rows.size())
                             .arg(maxRows));

    std::set<std::pair<QString, QString>> seen;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QString where = QStringLiteral("daily[%1]").arg(i);
        if (!rows[i].isObject())
            throw badRequest(QStringLiteral("%1 must be an object.").arg(where));
        const QJsonObject row = rows[i].toObject();

        const auto provider = row.value(QStringLiteral("provider")).toString();
        if (provider != QLatin1String("codex") && provider != QLatin1String("claude"))
            throw badRequest(
                QStringLiteral("%1.provider must be \"codex\" or \"claude\".").arg(where));

        const auto date = row.value(QStringLiteral("date"));
        if (!date.isString() || !parseDay(date.toString()).isValid())
            throw badRequest(
                QStringLiteral("%1.date must be a calendar day written yyyy-MM-dd.").arg(where));

        const auto tokens = wholeNumber(row.value(QStringLiteral("totalTokens")), 0, maxTokens);
        if (!tokens)
            throw badRequest(QStringLiteral("%1.totalTokens must be a whole number from 0 to %2.")
                                 .arg(where)
                                 .arg(maxTokens));

        if (!seen.emplace(provider, date.toString()).second)
            throw badRequest(QStringLiteral("%1 repeats %2 on %3; send each provider and day once.")
                                 .arg(where, provider, date.toString()));
        upload.daily.push_back(UsageRow{provider, date.toString(), *tokens});
    }
    return upload;
}

void UsageService::record(const QString& userId, const UsageUpload& upload) {
    record(userId, upload, clock_.nowUtc());
}

void UsageService::record(const QString& userId, const UsageUpload& upload,
                          const QDateTime& syncedAt) {
    db_.transaction([&] {
        // collectedAt is kept as UTC text of one fixed form, so text order is time order.
        db_.prepare("INSERT INTO devices (user_id, device_id, collected_at, synced_at) "
                    "VALUES (?1, ?2, ?3, ?4) ON CONFLICT (user_id, device_id) DO UPDATE SET "
                    "collected_at = max(collected_at, excluded.collected_at), "
                    "synced_at = excluded.synced_at")
            .bind(1, userId)
            .bind(2, upload.deviceId)
            .bind(3, upload.collectedAt)
            .bind(4, Clock::isoText(syncedAt))
            .run();
        auto insert = db_.prepare(
            "INSERT INTO daily_usage (user_id, device_id, provider, day, total_tokens, "
            "collected_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6) "
            "ON CONFLICT (user_id, device_id, provider, day) DO UPDATE SET "
            "total_tokens = excluded.total_tokens, collected_at = excluded.collected_at "
            "WHERE excluded.collected_at >= daily_usage.collected_at");
        for (const auto& row : upload.daily) {
            insert.bind(1, userId)
                .bind(2, upload.deviceId)
                .bind(3, row.provider)
                .bind(4, row.day)
                .bind(5, row.totalTokens)
                .bind(6, upload.collectedAt);
            insert.run();
            insert.reset();
        }
    });
}

} // namespace varno::devserver
