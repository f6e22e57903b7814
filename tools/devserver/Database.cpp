// SPDX-License-Identifier: MIT
#include "Database.h"

#include "Crypto.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace varno::devserver {

namespace {
[[noreturn]] void fail(sqlite3* db, const char* what) {
    throw DatabaseError(std::string(what) + ": " + sqlite3_errmsg(db));
}

const char* const schema = R"sql(
CREATE TABLE IF NOT EXISTS users (
    id TEXT PRIMARY KEY,
    name TEXT NOT NULL,
    email TEXT NOT NULL,
    avatar_url TEXT,
    referral_code TEXT,
    created_at TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS session_hashes (
    token_hash TEXT PRIMARY KEY,
    user_id TEXT NOT NULL REFERENCES users(id),
    created_at TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS sign_in_attempts (
    challenge TEXT PRIMARY KEY,
    state TEXT NOT NULL,
    expires_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS sign_in_codes (
    code TEXT PRIMARY KEY,
    challenge TEXT NOT NULL,
    user_id TEXT NOT NULL REFERENCES users(id),
    expires_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS devices (
    user_id TEXT NOT NULL REFERENCES users(id),
    device_id TEXT NOT NULL,
    collected_at TEXT NOT NULL,
    synced_at TEXT NOT NULL,
    PRIMARY KEY (user_id, device_id)
);
CREATE TABLE IF NOT EXISTS daily_usage (
    user_id TEXT NOT NULL,
    device_id TEXT NOT NULL,
    provider TEXT NOT NULL,
    day TEXT NOT NULL,
    total_tokens INTEGER NOT NULL,
    collected_at TEXT NOT NULL DEFAULT '',
    PRIMARY KEY (user_id, device_id, provider, day),
    FOREIGN KEY (user_id, device_id) REFERENCES devices(user_id, device_id)
);
CREATE TABLE IF NOT EXISTS friend_requests (
    id TEXT PRIMARY KEY,
    from_user TEXT NOT NULL REFERENCES users(id),
    to_user TEXT NOT NULL REFERENCES users(id),
    accepted INTEGER NOT NULL DEFAULT 0,
    created_at TEXT NOT NULL,
    CHECK (from_user <> to_user)
);
CREATE UNIQUE INDEX IF NOT EXISTS friend_requests_pair
    ON friend_requests (min(from_user, to_user), max(from_user, to_user));
CREATE TABLE IF NOT EXISTS analytics_events (
    seq INTEGER PRIMARY KEY AUTOINCREMENT,
    api_key TEXT NOT NULL,
    sent_at TEXT,
    received_at TEXT NOT NULL,
    gzipped INTEGER NOT NULL,
    event TEXT NOT NULL
);
)sql";
} // namespace

Statement::Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
        fail(db, "prepare");
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    if (sqlite3_bind_text(stmt_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) !=
        SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

Statement& Statement::bind(int index, std::int64_t number) {
    if (sqlite3_bind_int64(stmt_, index, number) != SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

Statement& Statement::bind(int index, const std::optional<QString>& text) {
    if (text)
        return bind(index, *text);
    if (sqlite3_bind_null(stmt_, index) != SQLITE_OK)
        fail(db_, "bind");
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail(db_, "step");
}

void Statement::run() {
    while (step()) {
    }
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

QString Statement::text(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return data ? QString::fromUtf8(data, sqlite3_column_bytes(stmt_, column)) : QString();
}

std::optional<QString> Statement::optionalText(int column) const {
    if (isNull(column))
        return std::nullopt;
    return text(column);
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

namespace {
// The file holds every account's data: make it readable by its owner only, before
// SQLite opens it (SQLite gives its journal and WAL files the same mode).
void makePrivateFile(const QByteArray& name) {
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw DatabaseError("cannot open " + name.toStdString() + ": " + std::strerror(errno));
    const int changed = ::fchmod(fd, 0600);
    const int error = errno;
    ::close(fd);
    if (changed != 0)
        throw DatabaseError("cannot make " + name.toStdString() +
                            " private: " + std::strerror(error));
}

// Sessions of an older file kept their tokens in plain text: keep the sessions, as hashes.
void hashOldSessionTokens(sqlite3* db) {
    sqlite3_stmt* old = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT token, user_id, created_at FROM sessions", -1, &old,
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(old);
        return; // no such table
    }
    Statement insert(db, "INSERT OR IGNORE INTO session_hashes (token_hash, user_id, created_at) "
                         "VALUES (?1, ?2, ?3)");
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(old)) == SQLITE_ROW) {
        const auto column = [old](int i) {
            return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(old, i)),
                                     sqlite3_column_bytes(old, i));
        };
        insert.bind(1, sha256Hex(column(0))).bind(2, column(1)).bind(3, column(2));
        insert.run();
        insert.reset();
    }
    sqlite3_finalize(old);
    if (rc != SQLITE_DONE)
        fail(db, "reading old sessions");
    if (sqlite3_exec(db, "DROP TABLE sessions", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db, "dropping old sessions");
}

// Usage rows of an older file carry no collection time: they count as older than any
// reading that comes now.
void addReadingTimes(sqlite3* db) {
    {
        Statement column(db, "SELECT 1 FROM pragma_table_info('daily_usage') "
                             "WHERE name = 'collected_at'");
        if (column.step())
            return;
    }
    if (sqlite3_exec(db, "ALTER TABLE daily_usage ADD COLUMN collected_at TEXT NOT NULL DEFAULT ''",
                     nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db, "adding reading times");
}
} // namespace

Database::Database(const QString& path) {
    const QByteArray name = path.toUtf8();
    if (path != QLatin1String(":memory:"))
        makePrivateFile(name);
    if (sqlite3_open_v2(name.constData(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw DatabaseError("cannot open " + name.toStdString() + ": " + message);
    }
    try {
        // Another process may hold the file briefly (a second server on the same file).
        sqlite3_busy_timeout(db_, 5000);
        exec("PRAGMA foreign_keys = ON");
        if (path != QLatin1String(":memory:"))
            exec("PRAGMA journal_mode = WAL");
        std::lock_guard lock(mutex_);
        exec("BEGIN IMMEDIATE");
        try {
            if (sqlite3_exec(db_, schema, nullptr, nullptr, nullptr) != SQLITE_OK)
                fail(db_, "schema");
            hashOldSessionTokens(db_);
            addReadingTimes(db_);
            exec("COMMIT");
        } catch (...) {
            rollback();
            throw;
        }
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

Database::~Database() {
    sqlite3_close(db_);
}

int Database::changes() const {
    return sqlite3_changes(db_);
}

void Database::exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db_, sql);
}

void Database::rollback() noexcept {
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

} // namespace varno::devserver
