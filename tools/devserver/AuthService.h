// SPDX-License-Identifier: MIT
#pragma once

#include "Accounts.h"
#include "Clock.h"
#include "Database.h"

#include <QJsonObject>
#include <QString>

#include <chrono>

namespace varno::devserver {

// The browser sign-in exchange. The app starts with the SHA-256 challenge of a
// secret verifier and a state value; the sign-in page turns a chosen account into a
// one-time code bound to that challenge; the app trades code and verifier for a token.
class AuthService {
public:
    static constexpr std::chrono::minutes lifetime{10};

    AuthService(Database& db, Accounts& accounts, const Clock& clock)
        : db_(db), accounts_(accounts), clock_(clock) {}

    // Registers a sign-in attempt. 400 for a malformed challenge or state.
    void start(const QString& challenge, const QString& state);

    // Checks that the attempt is known and the state matches; 400 otherwise.
    void checkAttempt(const QString& challenge, const QString& state);

    // Ends the attempt and returns a fresh code for the account (404 if unknown).
    QString issueCode(const QString& challenge, const QString& state, const QString& accountId);

    // Returns the LoginResponse JSON. The code is spent by any attempt, right or wrong,
    // so that a verifier cannot be guessed by retrying.
    QJsonObject exchange(const QString& code, const QString& verifier);

private:
    Database& db_;
    Accounts& accounts_;
    const Clock& clock_;
};

} // namespace varno::devserver
