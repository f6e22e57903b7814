// SPDX-License-Identifier: MIT
#include "FriendsService.h"

#include "Crypto.h"
#include "Reply.h"

namespace varno::devserver {

namespace {
struct Request {
    QString from;
    QString to;
    bool accepted = false;
};

// Only the two people involved may see a request; for anyone else it does not exist.
Request findInvolving(Database& db, const QString& userId, const QString& requestId) {
    auto row = db.prepare("SELECT from_user, to_user, accepted FROM friend_requests "
                          "WHERE id = ?1 AND (from_user = ?2 OR to_user = ?2)");
    row.bind(1, requestId).bind(2, userId);
    if (!row.step())
        throw notFound(QStringLiteral("There is no such friend request."));
    return Request{row.text(0), row.text(1), row.integer(2) != 0};
}
} // namespace

void FriendsService::accept(const QString& userId, const QString& requestId) {
    db_.transaction([&] {
        const auto request = findInvolving(db_, userId, requestId);
        if (request.accepted)
            throw HttpError(409, QStringLiteral("This friend request was already accepted."));
        if (request.to != userId)
            throw HttpError(
                403, QStringLiteral("Only the person you sent this request to can accept it."));
        db_.prepare("UPDATE friend_requests SET accepted = 1 WHERE id = ?1")
            .bind(1, requestId)
            .run();
    });
}

void FriendsService::remove(const QString& userId, const QString& requestId) {
    db_.transaction([&] {
        const auto request = findInvolving(db_, userId, requestId);
        if (request.accepted)
            throw HttpError(409, QStringLiteral("This friend request was already accepted."));
        db_.prepare("DELETE FROM friend_requests WHERE id = ?1").bind(1, requestId).run();
    });
}

QString FriendsService::create(const QString& fromUser, const QString& toUser, bool accepted,
                               QString requestId) {
    if (fromUser == toUser)
        throw badRequest(QStringLiteral("A user cannot send a friend request to themself."));
    if (requestId.isEmpty())
        requestId = randomHex(8);
    db_.transaction([&] {
        auto users = db_.prepare("SELECT COUNT(*) FROM users WHERE id IN (?1, ?2)");
        users.bind(1, fromUser).bind(2, toUser);
        users.step();
        if (users.integer(0) != 2)
            throw notFound(QStringLiteral("Both users must exist before they can be friends."));
        auto existing =
            db_.prepare("SELECT 1 FROM friend_requests WHERE id = ?1 OR "
                        "(from_user = ?2 AND to_user = ?3) OR (from_user = ?3 AND to_user = ?2)");
        existing.bind(1, requestId).bind(2, fromUser).bind(3, toUser);
        if (existing.step())
            throw HttpError(409, QStringLiteral("These two users already have a friend request."));
        db_.prepare("INSERT INTO friend_requests (id, from_user, to_user, accepted, created_at) "
                    "VALUES (?1, ?2, ?3, ?4, ?5)")
            .bind(1, requestId)
            .bind(2, fromUser)
            .bind(3, toUser)
            .bind(4, std::int64_t(accepted ? 1 : 0))
            .bind(5, Clock::isoText(clock_.nowUtc()))
            .run();
    });
    return requestId;
}

} // namespace varno::devserver
