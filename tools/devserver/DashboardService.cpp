// SPDX-License-Identifier: MIT
#include "DashboardService.h"

#include "Reply.h"

#include <QJsonArray>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace varno::devserver {

namespace {
struct Row {
    QString id;
    QString name;
    std::optional<QString> avatarURL;
    std::int64_t codex = 0;
    std::int64_t claude = 0;
    std::optional<QString> syncedAt;
    std::int64_t total() const { return codex + claude; }
};

// The user first, then everyone who shares an accepted request with them.
const char* const leaderboardSql = R"sql(
WITH circle(id) AS (
    SELECT ?1
    UNION
    SELECT CASE WHEN from_user = ?1 THEN to_user ELSE from_user END
    FROM friend_requests WHERE accepted = 1 AND (from_user = ?1 OR to_user = ?1)
)
SELECT u.id, u.name, u.avatar_url,
    (SELECT COALESCE(SUM(total_tokens), 0) FROM daily_usage d
        WHERE d.user_id = u.id AND d.provider = 'codex' AND d.day BETWEEN ?2 AND ?3),
    (SELECT COALESCE(SUM(total_tokens), 0) FROM daily_usage d
        WHERE d.user_id = u.id AND d.provider = 'claude' AND d.day BETWEEN ?2 AND ?3),
    (SELECT MAX(synced_at) FROM devices v WHERE v.user_id = u.id)
FROM users u JOIN circle c ON c.id = u.id
)sql";

const char* const requestsSql = R"sql(
SELECT r.id, u.name, r.to_user = ?1
FROM friend_requests r
JOIN users u ON u.id = CASE WHEN r.from_user = ?1 THEN r.to_user ELSE r.from_user END
WHERE r.accepted = 0 AND (r.from_user = ?1 OR r.to_user = ?1)
ORDER BY r.created_at, r.id
)sql";
} // namespace

QJsonObject DashboardService::dashboard(const QString& userId, const QDate& day) {
    const auto user = accounts_.find(userId);
    if (!user)
        throw HttpError(401, QStringLiteral("Sign in to Varno again."));
    const QString first = day.addDays(-(windowDays - 1)).toString(Qt::ISODate);
    const QString last = day.toString(Qt::ISODate);

    std::vector<Row> rows;
    QJsonArray requests;
    db_.transaction([&] {
        auto query = db_.prepare(leaderboardSql);
        query.bind(1, userId).bind(2, first).bind(3, last);
        while (query.step())
            rows.push_back(Row{query.text(0), query.text(1), query.optionalText(2),
                               query.integer(3), query.integer(4), query.optionalText(5)});
        auto pending = db_.prepare(requestsSql);
        pending.bind(1, userId);
        while (pending.step())
            requests.append(QJsonObject{{"id", pending.text(0)},
                                        {"name", pending.text(1)},
                                        {"incoming", pending.integer(2) != 0},
                                        {"accepted", false}});
    });

    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        if (a.total() != b.total())
            return a.total() > b.total();
        if (const int byName = a.name.compare(b.name, Qt::CaseInsensitive); byName != 0)
            return byName < 0;
        return a.id < b.id;
    });

    QJsonArray leaderboard;
    for (const auto& row : rows) {
        QJsonObject entry{{"id", row.id},
                          {"name", row.name},
                          {"isMe", row.id == userId},
                          {"codex", qint64(row.codex)},
                          {"claude", qint64(row.claude)},
                          {"total", qint64(row.total())}};
        if (row.syncedAt)
            entry.insert("syncedAt", *row.syncedAt);
        if (row.avatarURL)
            entry.insert("avatarURL", *row.avatarURL);
        leaderboard.append(entry);
    }

    QJsonObject result{
        {"user", user->userJson()}, {"leaderboard", leaderboard}, {"requests", requests}};
    if (user->referralCode)
        result.insert("referralCode", *user->referralCode);
    return result;
}

} // namespace varno::devserver
