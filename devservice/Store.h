#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "devservice/Bookmarks.h"

struct sqlite3;

namespace devservice {

// Any failure of the database. The message names what was being done.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct User {
    std::int64_t id = 0;
    std::string name;
};

struct CreateResult {
    Bookmark bookmark;     // the stored bookmark: the new one, or the one saved earlier
    bool alreadyExists = false;
};

// Users, sessions and bookmarks in one SQLite file. Every statement that carries outside input
// is prepared and bound; the file is in WAL mode and each change runs in its own transaction.
// One Store is used from one thread.
class Store {
public:
    static constexpr std::chrono::seconds sessionLifetime{30 * 24 * 3600};

    // Opens (creating when missing) the database file and its tables. Throws StoreError.
    explicit Store(const std::filesystem::path& file);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Creates the user when no user of that name exists; an existing user keeps its password.
    User ensureUser(std::string_view name, std::string_view password);

    // The user whose name and password match, if any.
    std::optional<User> checkPassword(std::string_view name, std::string_view password);

    // Starts a session for the user and answers its token.
    std::string createSession(std::int64_t userId);

    // Creates or refreshes a session with a token chosen by the caller.
    void plantSession(std::int64_t userId, std::string_view token);

    // The user of a live session, if the token names one.
    std::optional<User> userForSession(std::string_view token);

    void deleteSession(std::string_view token);

    // Stores the bookmark unless the user saved that exact address before; then the earlier
    // bookmark is answered unchanged.
    CreateResult createBookmark(std::int64_t userId, const NewBookmark& bookmark);

    // The user's bookmarks, newest first.
    std::vector<Bookmark> bookmarks(std::int64_t userId);

    // Runs SQLite's integrity check; true when it answers "ok".
    bool integrityOk();

private:
    sqlite3* db_ = nullptr;
};

}  // namespace devservice
