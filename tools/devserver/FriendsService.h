// SPDX-License-Identifier: MIT
#pragma once

#include "Clock.h"
#include "Database.h"

#include <QString>

namespace varno::devserver {

// Friend requests between two users. Accepted requests are the friendships.
class FriendsService {
public:
    FriendsService(Database& db, const Clock& clock) : db_(db), clock_(clock) {}

    // Accepts a pending request that someone sent to `userId`.
    void accept(const QString& userId, const QString& requestId);
    // Declines a pending request sent to `userId`, or cancels one `userId` sent.
    void remove(const QString& userId, const QString& requestId);

    // Development: a request from one user to another; returns its id. An empty
    // id gets a fresh one.
    QString create(const QString& fromUser, const QString& toUser, bool accepted,
                   QString requestId = {});

private:
    Database& db_;
    const Clock& clock_;
};

} // namespace varno::devserver
