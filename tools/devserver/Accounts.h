// SPDX-License-Identifier: MIT
#pragma once

#include "Clock.h"
#include "Database.h"

#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

namespace varno::devserver {

struct Account {
    QString id;
    QString name;
    QString email;
    std::optional<QString> avatarURL;
    std::optional<QString> referralCode;

    // The wire form of a user: exactly id, name and email.
    QJsonObject userJson() const;
};

// Users and their bearer tokens.
class Accounts {
public:
    Accounts(Database& db, const Clock& clock) : db_(db), clock_(clock) {}

    // Refuses a taken id with 409. An empty id gets a fresh random one.
    Account create(Account account);
    std::optional<Account> find(const QString& id);
    std::vector<Account> all(); // in order of creation

    // Sessions. A token is 64 random hex characters.
    QString startSession(const QString& userId);
    std::optional<QString> userForToken(const QString& token);
    void endSession(const QString& token);

private:
    Database& db_;
    const Clock& clock_;
};

} // namespace varno::devserver
