// SPDX-License-Identifier: MIT
#pragma once

#include "model/Json.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace varno {

// The signed-in person as the server knows them.
struct User {
    QString id;
    QString name;
    QString email;

    static User decode(const JsonNode& node);
    QByteArray toJson() const;
    bool operator==(const User&) const = default;
};

// What is kept between runs so that the user stays signed in.
struct SavedSession {
    QString token;
    User user;
    QString serverURL;

    static SavedSession decode(const JsonNode& node);
    QByteArray toJson() const;
    bool operator==(const SavedSession&) const = default;
};

// The answer of the sign-in code exchange.
struct LoginResponse {
    QString token;
    User user;

    static LoginResponse decode(const JsonNode& node);
    bool operator==(const LoginResponse&) const = default;
};

struct LeaderboardEntry {
    QString id;
    QString name;
    bool isMe = false;
    qint64 codex = 0;
    qint64 claude = 0;
    qint64 total = 0;
    std::optional<QString> syncedAt;
    std::optional<QString> avatarURL;

    static LeaderboardEntry decode(const JsonNode& node);
    QByteArray toJson() const;
    bool operator==(const LeaderboardEntry&) const = default;
};

struct FriendRequest {
    QString id;
    QString name;
    bool incoming = false;
    bool accepted = false;

    static FriendRequest decode(const JsonNode& node);
    QByteArray toJson() const;
    bool operator==(const FriendRequest&) const = default;
};

// The server's view of the user's circle for one day.
struct Dashboard {
    User user;
    QList<LeaderboardEntry> leaderboard;
    QList<FriendRequest> requests;
    std::optional<QString> referralCode;

    static Dashboard decode(const JsonNode& node);
    // As the server sends it (the development tools and benchmarks answer with it).
    QByteArray toJson() const;
    bool operator==(const Dashboard&) const = default;

    // Makes each leaderboard text that equals the one `previous` holds for the same
    // id share its memory: a sync mostly changes totals, and a long list then holds
    // its ids and names once instead of twice while both are alive.
    void shareTextsWith(const Dashboard& previous);
};

// One provider's token total for one local day.
struct DailyUsage {
    QString provider;
    QString date;
    qint64 totalTokens = 0;

    static DailyUsage decode(const JsonNode& node);
    QByteArray toJson() const;
    bool operator==(const DailyUsage&) const = default;
};

// One reading of local usage; never serialised.
struct UsageSnapshot {
    QList<DailyUsage> daily;
    QDateTime collectedAt;

    bool operator==(const UsageSnapshot&) const = default;
};

// The body that uploads local usage to the server.
struct UsageUpload {
    QString deviceId;
    QString collectedAt;
    QList<DailyUsage> daily;

    QByteArray toJson() const;
};

// One element of the array that CodexBar prints.
struct ProviderUsage {
    struct Day {
        QString date;
        qint64 totalTokens = 0;

        static Day decode(const JsonNode& node);
        bool operator==(const Day&) const = default;
    };

    QString provider;
    std::optional<QList<Day>> daily;
    std::optional<bool> historyCoverageIsEstablished;

    static ProviderUsage decode(const JsonNode& node);
    bool operator==(const ProviderUsage&) const = default;
};

} // namespace varno
