#include "devservice/Store.h"

#include <cstdio>
#include <ctime>

#include <sqlite3.h>
#include <nlohmann/json.hpp>

#include "devservice/Credentials.h"

namespace devservice {
namespace {

// One prepared statement, finalized when it goes out of scope.
class Statement {
public:
    Statement(sqlite3* db, std::string_view sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
            throw StoreError(std::string("preparing a statement failed: ") + sqlite3_errmsg(db));
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::string_view value) {
        check(sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
        return *this;
    }
    Statement& bind(int index, std::int64_t value) {
        check(sqlite3_bind_int64(stmt_, index, value));
        return *this;
    }

    // True when a row is ready, false when the statement is done.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw StoreError(std::string("a database statement failed: ") + sqlite3_errmsg(db_));
    }

    std::string text(int column) const {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        const int size = sqlite3_column_bytes(stmt_, column);
        return data ? std::string(data, static_cast<std::size_t>(size)) : std::string();
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }

private:
    void check(int rc) {
        if (rc != SQLITE_OK) throw StoreError(std::string("binding a value failed: ") + sqlite3_errmsg(db_));
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

void execute(sqlite3* db, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "unknown error";
        sqlite3_free(message);
        throw StoreError("database command failed: " + text);
    }
}

// BEGIN IMMEDIATE … COMMIT, rolled back when left without commit().
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) { execute(db_, "BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit() {
        execute(db_, "COMMIT");
        done_ = true;
    }

private:
    sqlite3* db_;
    bool done_ = false;
};

const char* const schema = R"sql(
CREATE TABLE IF NOT EXISTS users (
    id            INTEGER PRIMARY KEY,
    name          TEXT    NOT NULL UNIQUE,
    password_hash TEXT    NOT NULL,
    created_at    TEXT    NOT NULL
);
CREATE TABLE IF NOT EXISTS sessions (
    token_hash TEXT    PRIMARY KEY,
    user_id    INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    expires_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS bookmarks (
    id         INTEGER PRIMARY KEY,
    user_id    INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    url        TEXT    NOT NULL,
    title      TEXT    NOT NULL,
    tags       TEXT    NOT NULL,
    read_later INTEGER NOT NULL,
    created_at TEXT    NOT NULL,
    UNIQUE (user_id, url)
);
PRAGMA user_version = 1;
)sql";

std::int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string isoNow() {
    const auto now = std::chrono::system_clock::now();
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return buffer;
}

Bookmark bookmarkFromRow(const Statement& row) {
    Bookmark bookmark;
    bookmark.id = row.integer(0);
    bookmark.url = row.text(1);
    bookmark.title = row.text(2);
    const auto tags = nlohmann::json::parse(row.text(3), nullptr, false);
    if (tags.is_array()) {
        for (const auto& tag : tags) {
            if (tag.is_string()) bookmark.tags.push_back(tag.get<std::string>());
        }
    }
    bookmark.readLater = row.integer(4) != 0;
    bookmark.createdAt = row.text(5);
    return bookmark;
}

constexpr std::string_view bookmarkColumns = "id, url, title, tags, read_later, created_at";

}  // namespace

Store::Store(const std::filesystem::path& file) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("cannot open " + file.string() + ": " + message);
    }
    try {
        sqlite3_busy_timeout(db_, 5000);
        sqlite3_extended_result_codes(db_, 1);
        execute(db_, "PRAGMA journal_mode = WAL");
        execute(db_, "PRAGMA synchronous = NORMAL");
        execute(db_, "PRAGMA foreign_keys = ON");
        Transaction transaction(db_);
        execute(db_, schema);
        transaction.commit();
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

Store::~Store() { sqlite3_close(db_); }

User Store::ensureUser(std::string_view name, std::string_view password) {
    Transaction transaction(db_);
    {
        Statement find(db_, "SELECT id FROM users WHERE name = ?1");
        find.bind(1, name);
        if (find.step()) {
            User user{find.integer(0), std::string(name)};
            transaction.commit();
            return user;
        }
    }
    Statement insert(db_, "INSERT INTO users (name, password_hash, created_at) VALUES (?1, ?2, ?3)");
    insert.bind(1, name).bind(2, credentials::hashPassword(password)).bind(3, isoNow());
    insert.step();
    User user{sqlite3_last_insert_rowid(db_), std::string(name)};
    transaction.commit();
    return user;
}

std::optional<User> Store::checkPassword(std::string_view name, std::string_view password) {
    Statement find(db_, "SELECT id, password_hash FROM users WHERE name = ?1");
    find.bind(1, name);
    if (!find.step()) {
        // Spend the same effort as for a known name, so timing does not tell which names exist.
        credentials::verifyPassword(password, "pbkdf2-sha256$100000$00000000000000000000000000000000$"
                                              "0000000000000000000000000000000000000000000000000000000000000000");
        return std::nullopt;
    }
    if (!credentials::verifyPassword(password, find.text(1))) return std::nullopt;
    return User{find.integer(0), std::string(name)};
}

std::string Store::createSession(std::int64_t userId) {
    auto token = credentials::newSessionToken();
    plantSession(userId, token);
    return token;
}

void Store::plantSession(std::int64_t userId, std::string_view token) {
    Transaction transaction(db_);
    {
        Statement expired(db_, "DELETE FROM sessions WHERE expires_at <= ?1");
        expired.bind(1, unixNow());
        expired.step();
    }
    Statement upsert(db_,
                     "INSERT INTO sessions (token_hash, user_id, expires_at) VALUES (?1, ?2, ?3) "
                     "ON CONFLICT (token_hash) DO UPDATE SET user_id = excluded.user_id, "
                     "expires_at = excluded.expires_at");
    upsert.bind(1, credentials::sha256Hex(token)).bind(2, userId).bind(3, unixNow() + sessionLifetime.count());
    upsert.step();
    transaction.commit();
}

std::optional<User> Store::userForSession(std::string_view token) {
    Statement find(db_,
                   "SELECT users.id, users.name FROM sessions JOIN users ON users.id = sessions.user_id "
                   "WHERE sessions.token_hash = ?1 AND sessions.expires_at > ?2");
    find.bind(1, credentials::sha256Hex(token)).bind(2, unixNow());
    if (!find.step()) return std::nullopt;
    return User{find.integer(0), find.text(1)};
}

void Store::deleteSession(std::string_view token) {
    Statement remove(db_, "DELETE FROM sessions WHERE token_hash = ?1");
    remove.bind(1, credentials::sha256Hex(token));
    remove.step();
}

CreateResult Store::createBookmark(std::int64_t userId, const NewBookmark& bookmark) {
    Transaction transaction(db_);
    const std::string select = "SELECT " + std::string(bookmarkColumns) + " FROM bookmarks WHERE user_id = ?1 AND url = ?2";
    {
        Statement existing(db_, select);
        existing.bind(1, userId).bind(2, bookmark.url);
        if (existing.step()) {
            CreateResult result{bookmarkFromRow(existing), true};
            transaction.commit();
            return result;
        }
    }
    {
        Statement insert(db_,
                         "INSERT INTO bookmarks (user_id, url, title, tags, read_later, created_at) "
                         "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        insert.bind(1, userId)
            .bind(2, bookmark.url)
            .bind(3, bookmark.title)
            .bind(4, nlohmann::json(bookmark.tags).dump())
            .bind(5, std::int64_t{bookmark.readLater ? 1 : 0})
            .bind(6, isoNow());
        insert.step();
    }
    Statement stored(db_, select);
    stored.bind(1, userId).bind(2, bookmark.url);
    if (!stored.step()) throw StoreError("a stored bookmark could not be read back");
    CreateResult result{bookmarkFromRow(stored), false};
    transaction.commit();
    return result;
}

std::vector<Bookmark> Store::bookmarks(std::int64_t userId) {
    Statement list(db_, "SELECT " + std::string(bookmarkColumns) + " FROM bookmarks WHERE user_id = ?1 ORDER BY id DESC");
    list.bind(1, userId);
    std::vector<Bookmark> result;
    while (list.step()) result.push_back(bookmarkFromRow(list));
    return result;
}

bool Store::integrityOk() {
    Statement check(db_, "PRAGMA integrity_check");
    return check.step() && check.text(0) == "ok";
}

}  // namespace devservice
