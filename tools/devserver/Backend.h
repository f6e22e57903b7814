// SPDX-License-Identifier: MIT
#pragma once

#include "Accounts.h"
#include "AnalyticsSink.h"
#include "AuthService.h"
#include "Clock.h"
#include "DashboardService.h"
#include "Database.h"
#include "FriendsService.h"
#include "UsageService.h"

#include <QString>

namespace varno::devserver {

// Everything the routes work with, over one database and one clock.
struct Backend {
    explicit Backend(const QString& databasePath)
        : db(databasePath), accounts(db, clock), auth(db, accounts, clock), usage(db, clock),
          dashboards(db, accounts), friends(db, clock), analytics(db, clock) {}

    Clock clock;
    Database db;
    Accounts accounts;
    AuthService auth;
    UsageService usage;
    DashboardService dashboards;
    FriendsService friends;
    AnalyticsSink analytics;
};

} // namespace varno::devserver
