// SPDX-License-Identifier: MIT
#include "Accounts.h"

#include "Crypto.h"
#include "Reply.h"

namespace varno::devserver {

namespace {
Account readAccount(const Statement& row) {
    return Account{row.text(0), row.text(1), row.text(2), row.optionalText(3), row.optionalText(4)};
}
} // namespace

QJsonObject Account::userJson() const {
    return QJsonObject{{"id", id}, {"name", name}, {"email", email}};
}

Account Accounts::create(Account account) {
    if (account.id.isEmpty())
        account.id = randomHex(8);
    return db_.transaction([&] {
        auto exists = db_.prepare("SELECT 1 FROM users WHERE id = ?1");
        exists.bind(1, account.id);
        if (exists.step())
            throw HttpError(
                409, QStringLiteral("A user with the id \"%1\" already exists.").arg(account.id));
        db_.prepare("INSERT INTO users (id, name, email, avatar_url, referral_code, created_at) "
                    "VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
            .bind(1, account.id)
            .bind(2, account.name)
            .bind(3, account.email)
            .bind(4, account.avatarURL)
            .bind(5, account.referralCode)
            .bind(6, Clock::isoText(clock_.nowUtc()))
            .run();
        return account;
    });
}

std::optional<Account> Accounts::find(const QString& id) {
    return db_.transaction([&]() -> std::optional<Account> {
        auto row = db_.prepare(
            "SELECT id, name, email, avatar_url, referral_code FROM users WHERE id = ?1");
        row.bind(1, id);
        if (!row.step())
            return std::nullopt;
        return readAccount(row);
    });
}

std::vector<Account> Accounts::all() {
    return db_.transaction([&] {
        std::vector<Account> accounts;
        auto row = db_.prepare(
            "SELECT id, name, email, avatar_url, referral_code FROM users ORDER BY rowid");
        while (row.step())
            accounts.push_back(readAccount(row));
        return accounts;
    });
}

// Only a hash of each token is stored: the database file then opens no account.
QString Accounts::startSession(const QString& userId) {
    const QString token = randomHex(32);
    db_.transaction([&] {
        db_.prepare("INSERT INTO session_hashes (token_hash, user_id, created_at) "
                    "VALUES (?1, ?2, ?3)")
            .bind(1, sha256Hex(token))
            .bind(2, userId)
            .bind(3, Clock::isoText(clock_.nowUtc()))
            .run();
    });
    return token;
}

std::optional<QString> Accounts::userForToken(const QString& token) {
    return db_.transaction([&]() -> std::optional<QString> {
        auto row = db_.prepare("SELECT user_id FROM session_hashes WHERE token_hash = ?1");
        row.bind(1, sha256Hex(token));
        if (!row.step())
            return std::nullopt;
        return row.text(0);
    });
}

void Accounts::endSession(const QString& token) {
    db_.transaction([&] {
        db_.prepare("DELETE FROM session_hashes WHERE token_hash = ?1")
            .bind(1, sha256Hex(token))
            .run();
    });
}

} // namespace varno::devserver
