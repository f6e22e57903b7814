// SPDX-License-Identifier: MIT
#pragma once

#include "Clock.h"
#include "Database.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <vector>

namespace varno::devserver {

struct UsageRow {
    QString provider; // "codex" or "claude"
    QString day;      // yyyy-MM-dd
    std::int64_t totalTokens = 0;
};

struct UsageUpload {
    QString deviceId;
    QString collectedAt;
    std::vector<UsageRow> daily;

    static constexpr int maxRows = 400;
    static constexpr std::int64_t maxTokens = 1'000'000'000'000;

    // Strict reading of an upload body; 400 with a sentence naming the first problem.
    static UsageUpload fromJson(const QJsonObject& body);
};

// Daily totals per user, device, provider and day. Of a device's readings of a day the
// one with the latest collectedAt counts (the later arrival on a tie), so an upload
// delayed on the way never lowers a newer total; other devices of the same user are
// left alone and add up.
class UsageService {
public:
    UsageService(Database& db, const Clock& clock) : db_(db), clock_(clock) {}

    // Stores the upload and records now as the device's upload time.
    void record(const QString& userId, const UsageUpload& upload);
    // Same, with the upload time given (demo data).
    void record(const QString& userId, const UsageUpload& upload, const QDateTime& syncedAt);

private:
    Database& db_;
    const Clock& clock_;
};

} // namespace varno::devserver
