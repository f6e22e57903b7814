// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>

struct sqlite3;
struct sqlite3_stmt;

namespace varno::devserver {

class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One prepared statement. Parameters are 1-based, columns 0-based, as in SQLite.
class Statement {
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, const QString& text);
    Statement& bind(int index, std::int64_t number);
    Statement& bind(int index, const std::optional<QString>& text);

    // Advances to the next row; false when done. Throws on failure.
    bool step();
    // Runs a statement that returns no rows.
    void run();
    // Makes the statement ready to run again with new bindings.
    void reset();

    QString text(int column) const;
    std::optional<QString> optionalText(int column) const;
    std::int64_t integer(int column) const;
    bool isNull(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// The server's storage: one SQLite connection used by one thread at a time.
// Every call goes through transaction(), which holds the lock and commits or
// rolls back as a whole, so concurrent requests never see or leave half a change.
class Database {
public:
    // `path` is a file name or ":memory:". Creates the schema when needed.
    explicit Database(const QString& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    template <typename F> auto transaction(F&& body) -> decltype(body()) {
        std::lock_guard lock(mutex_);
        exec("BEGIN IMMEDIATE");
        try {
            if constexpr (std::is_void_v<decltype(body())>) {
                body();
                exec("COMMIT");
            } else {
                auto result = body();
                exec("COMMIT");
                return result;
            }
        } catch (...) {
            rollback();
            throw;
        }
    }

    // Only inside transaction().
    Statement prepare(const char* sql) { return Statement(db_, sql); }
    int changes() const;

private:
    void exec(const char* sql);
    void rollback() noexcept;

    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};

} // namespace varno::devserver
