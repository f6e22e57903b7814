// SPDX-License-Identifier: MIT
#pragma once

#include "Accounts.h"
#include "Database.h"

#include <QDate>
#include <QJsonObject>

namespace varno::devserver {

// The signed-in user's circle for one day: the user and accepted friends with their
// totals over the 30 days ending on that day, and the pending friend requests.
class DashboardService {
public:
    static constexpr int windowDays = 30;

    DashboardService(Database& db, Accounts& accounts) : db_(db), accounts_(accounts) {}

    QJsonObject dashboard(const QString& userId, const QDate& day);

private:
    Database& db_;
    Accounts& accounts_;
};

} // namespace varno::devserver
