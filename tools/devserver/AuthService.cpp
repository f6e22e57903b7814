// SPDX-License-Identifier: MIT
#include "AuthService.h"

#include "Crypto.h"
#include "Reply.h"

namespace varno::devserver {

namespace {
const qsizetype maxStateLength = 512;

QString unknownAttempt() {
    return QStringLiteral(
        "This sign-in link is unknown or has expired. Start the sign-in again from Varno.");
}
} // namespace

void AuthService::start(const QString& challenge, const QString& state) {
    if (!isLowerHex64(challenge))
        throw badRequest(
            QStringLiteral("The challenge must be 64 lower-case hexadecimal characters."));
    if (state.isEmpty() || state.size() > maxStateLength)
        throw badRequest(QStringLiteral("The state must be a non-empty text of at most %1 "
                                        "characters.")
                             .arg(maxStateLength));
    const auto now = clock_.nowMs();
    const auto expires = now + std::chrono::milliseconds(lifetime).count();
    db_.transaction([&] {
        db_.prepare("DELETE FROM sign_in_attempts WHERE expires_at <= ?1").bind(1, now).run();
        db_.prepare("INSERT OR REPLACE INTO sign_in_attempts (challenge, state, expires_at) "
                    "VALUES (?1, ?2, ?3)")
            .bind(1, challenge)
            .bind(2, state)
            .bind(3, expires)
            .run();
    });
}

void AuthService::checkAttempt(const QString& challenge, const QString& state) {
    if (!isLowerHex64(challenge))
        throw badRequest(
            QStringLiteral("The challenge must be 64 lower-case hexadecimal characters."));
    db_.transaction([&] {
        auto row = db_.prepare(
            "SELECT state FROM sign_in_attempts WHERE challenge = ?1 AND expires_at > ?2");
        row.bind(1, challenge).bind(2, clock_.nowMs());
        if (!row.step())
            throw badRequest(unknownAttempt());
        if (row.text(0) != state)
            throw badRequest(QStringLiteral(
                "The state does not match this sign-in. Start the sign-in again from Varno."));
    });
}

QString AuthService::issueCode(const QString& challenge, const QString& state,
                               const QString& accountId) {
    checkAttempt(challenge, state);
    if (!accounts_.find(accountId))
        throw notFound(QStringLiteral("There is no account with the id \"%1\".").arg(accountId));
    const QString code = randomHex(32);
    const auto now = clock_.nowMs();
    db_.transaction([&] {
        // The attempt is spent here; a second visit of the same link is refused.
        db_.prepare("DELETE FROM sign_in_attempts WHERE challenge = ?1 AND state = ?2")
            .bind(1, challenge)
            .bind(2, state)
            .run();
        if (db_.changes() == 0)
            throw badRequest(unknownAttempt());
        db_.prepare("DELETE FROM sign_in_codes WHERE expires_at <= ?1").bind(1, now).run();
        db_.prepare("INSERT INTO sign_in_codes (code, challenge, user_id, expires_at) "
                    "VALUES (?1, ?2, ?3, ?4)")
            .bind(1, code)
            .bind(2, challenge)
            .bind(3, accountId)
            .bind(4, now + std::chrono::milliseconds(lifetime).count())
            .run();
    });
    return code;
}

QJsonObject AuthService::exchange(const QString& code, const QString& verifier) {
    enum class Outcome { Unknown, Expired, WrongVerifier, Valid };
    struct Found {
        Outcome outcome = Outcome::Unknown;
        QString userId;
    };
    // Every attempt deletes the code and commits; refusals are thrown only afterwards,
    // outside the transaction, so that a wrong verifier spends the code too.
    const Found found = db_.transaction([&] {
        auto row =
            db_.prepare("SELECT challenge, user_id, expires_at FROM sign_in_codes WHERE code = ?1");
        row.bind(1, code);
        if (!row.step())
            return Found{};
        const QString challenge = row.text(0);
        Found result{Outcome::Valid, row.text(1)};
        if (row.integer(2) <= clock_.nowMs())
            result.outcome = Outcome::Expired;
        else if (sha256Hex(verifier) != challenge)
            result.outcome = Outcome::WrongVerifier;
        db_.prepare("DELETE FROM sign_in_codes WHERE code = ?1").bind(1, code).run();
        return result;
    });
    switch (found.outcome) {
    case Outcome::Unknown:
        throw badRequest(QStringLiteral(
            "This sign-in code is not valid or was already used. Please sign in again."));
    case Outcome::Expired:
        throw badRequest(QStringLiteral("This sign-in code has expired. Please sign in again."));
    case Outcome::WrongVerifier:
        throw badRequest(
            QStringLiteral("The sign-in could not be verified. Please sign in again."));
    case Outcome::Valid:
        break;
    }
    const auto account = accounts_.find(found.userId);
    if (!account)
        throw notFound(QStringLiteral("The account of this sign-in no longer exists."));
    const QString token = accounts_.startSession(account->id);
    return QJsonObject{{"token", token}, {"user", account->userJson()}};
}

} // namespace varno::devserver
