// SPDX-License-Identifier: MIT
#include "model/Records.h"

namespace varno {

namespace {
const QString kId = QStringLiteral("id");
const QString kName = QStringLiteral("name");
} // namespace

User User::decode(const JsonNode& node) {
    return User{node.requiredString(kId), node.requiredString(kName),
                node.requiredString(QStringLiteral("email"))};
}

QByteArray User::toJson() const {
    return JsonObjectWriter().add("id", id).add("name", name).add("email", email).finish();
}

SavedSession SavedSession::decode(const JsonNode& node) {
    return SavedSession{node.requiredString(QStringLiteral("token")),
                        node.requiredRecord<User>(QStringLiteral("user")),
                        node.requiredString(QStringLiteral("serverURL"))};
}

QByteArray SavedSession::toJson() const {
    return JsonObjectWriter()
        .add("token", token)
        .addRaw("user", user.toJson())
        .add("serverURL", serverURL)
        .finish();
}

LoginResponse LoginResponse::decode(const JsonNode& node) {
    return LoginResponse{node.requiredString(QStringLiteral("token")),
                         node.requiredRecord<User>(QStringLiteral("user"))};
}

LeaderboardEntry LeaderboardEntry::decode(const JsonNode& node) {
    LeaderboardEntry e;
    e.id = node.requiredString(kId);
    e.name = node.requiredString(kName);
    e.isMe = node.requiredBool(QStringLiteral("isMe"));
    e.codex = node.requiredInteger(QStringLiteral("codex"));
    e.claude = node.requiredInteger(QStringLiteral("claude"));
    e.total = node.requiredInteger(QStringLiteral("total"));
    e.syncedAt = node.optionalString(QStringLiteral("syncedAt"));
    e.avatarURL = node.optionalString(QStringLiteral("avatarURL"));
    return e;
}

FriendRequest FriendRequest::decode(const JsonNode& node) {
    return FriendRequest{node.requiredString(kId), node.requiredString(kName),
                         node.requiredBool(QStringLiteral("incoming")),
                         node.requiredBool(QStringLiteral("accepted"))};
}

Dashboard Dashboard::decode(const JsonNode& node) {
    Dashboard d;
    d.user = node.requiredRecord<User>(QStringLiteral("user"));
    d.leaderboard = node.requiredList<LeaderboardEntry>(QStringLiteral("leaderboard"));
    d.requests = node.requiredList<FriendRequest>(QStringLiteral("requests"));
    d.referralCode = node.optionalString(QStringLiteral("referralCode"));
    return d;
}

namespace {
template <typename Text> void share(Text& text, const Text& same) {
    if (text == same)
        text = same;
}
} // namespace

void Dashboard::shareTextsWith(const Dashboard& previous) {
    const QList<LeaderboardEntry>& old = previous.leaderboard;
    // Rows mostly keep their places or shift by the few that arrive, leave or move,
    // so each is looked for near where the last one was found: no index to build.
    constexpr qsizetype reach = 16;
    qsizetype shift = 0;
    for (qsizetype i = 0; i < leaderboard.size() && !old.isEmpty(); ++i) {
        LeaderboardEntry& row = leaderboard[i];
        const qsizetype guess = i + shift;
        const LeaderboardEntry* match = nullptr;
        for (qsizetype step = 0; step <= 2 * reach && !match; ++step) {
            const qsizetype at = guess + (step % 2 ? (step + 1) / 2 : -step / 2);
            if (at >= 0 && at < old.size() && old[at].id == row.id) {
                match = &old[at];
                shift = at - i;
            }
        }
        if (!match)
            continue;
        row.id = match->id;
        share(row.name, match->name);
        share(row.syncedAt, match->syncedAt);
        share(row.avatarURL, match->avatarURL);
    }
}

DailyUsage DailyUsage::decode(const JsonNode& node) {
    return DailyUsage{node.requiredString(QStringLiteral("provider")),
                      node.requiredString(QStringLiteral("date")),
                      node.requiredInteger(QStringLiteral("totalTokens"))};
}

QByteArray LeaderboardEntry::toJson() const {
    JsonObjectWriter writer;
    writer.add("id", id).add("name", name).add("isMe", isMe);
    writer.add("codex", codex).add("claude", claude).add("total", total);
    if (syncedAt)
        writer.add("syncedAt", *syncedAt);
    if (avatarURL)
        writer.add("avatarURL", *avatarURL);
    return writer.finish();
}

QByteArray FriendRequest::toJson() const {
    return JsonObjectWriter()
        .add("id", id)
        .add("name", name)
        .add("incoming", incoming)
        .add("accepted", accepted)
        .finish();
}

QByteArray Dashboard::toJson() const {
    QList<QByteArray> rows, asks;
    for (const LeaderboardEntry& row : leaderboard)
        rows.append(row.toJson());
    for (const FriendRequest& request : requests)
        asks.append(request.toJson());
    JsonObjectWriter writer;
    writer.addRaw("user", user.toJson())
        .addRaw("leaderboard", jsonArray(rows))
        .addRaw("requests", jsonArray(asks));
    if (referralCode)
        writer.add("referralCode", *referralCode);
    return writer.finish();
}

QByteArray DailyUsage::toJson() const {
    return JsonObjectWriter()
        .add("provider", provider)
        .add("date", date)
        .add("totalTokens", totalTokens)
        .finish();
}

QByteArray UsageUpload::toJson() const {
    QList<QByteArray> rows;
    rows.reserve(daily.size());
    for (const DailyUsage& row : daily)
        rows.append(row.toJson());
    return JsonObjectWriter()
        .add("deviceId", deviceId)
        .add("collectedAt", collectedAt)
        .addRaw("daily", jsonArray(rows))
        .finish();
}

ProviderUsage::Day ProviderUsage::Day::decode(const JsonNode& node) {
    return Day{node.requiredString(QStringLiteral("date")),
               node.requiredInteger(QStringLiteral("totalTokens"))};
}

ProviderUsage ProviderUsage::decode(const JsonNode& node) {
    ProviderUsage p;
    p.provider = node.requiredString(QStringLiteral("provider"));
    p.daily = node.optionalList<Day>(QStringLiteral("daily"));
    p.historyCoverageIsEstablished =
        node.optionalBool(QStringLiteral("historyCoverageIsEstablished"));
    return p;
}

} // namespace varno
