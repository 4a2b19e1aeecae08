#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devservice/Store.h"

// The development service's request handling, free of any HTTP library: a request goes in, a
// response comes out through a callback (at once, or later for the title lookup).
namespace devservice {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct Request {
    std::string method;  // "GET", "POST", …
    std::string path;    // percent-decoded path, starting with "/"
    std::string query;   // raw (still encoded) query without "?", possibly empty
    HeaderList headers;  // as received; names compared without regard to case
    std::string body;

    // The first value of the header, if present.
    std::optional<std::string> header(std::string_view name) const;
    // Every value of the header, in order.
    std::vector<std::string> headerValues(std::string_view name) const;
};

struct Response {
    int status = 200;
    std::string contentType;  // empty: no body
    std::string body;
    HeaderList headers;       // extra headers such as Location and Set-Cookie
};

using Responder = std::function<void(Response)>;

// Fetches a web page and answers its title, or "" when it cannot. The answer may come later, but
// `done` is called exactly once (unless the program is shutting down).
class TitleFetcher {
public:
    virtual ~TitleFetcher() = default;
    virtual void fetchTitle(const std::string& url, std::function<void(std::string)> done) = 0;
};

struct ServedFolders {
    std::optional<std::filesystem::path> releases;  // "/downloads/<name>"
    std::optional<std::filesystem::path> pages;     // "/fixtures/<name>"
};

class Service {
public:
    static constexpr const char* sessionCookie = "tolvar_session";
    static constexpr std::size_t apiBodyLimit = 1024 * 1024;
    static constexpr std::size_t formBodyLimit = 64 * 1024;

    Service(Store& store, TitleFetcher& fetcher, ServedFolders folders);

    // Handles one request. `respond` is called once, possibly after handle() returned.
    void handle(const Request& request, const Responder& respond);

    // The largest request body accepted for a path.
    static std::size_t bodyLimit(std::string_view path);

    // The answer to a request whose body is over bodyLimit().
    static Response bodyTooLarge(std::string_view path);

    // The answer when handling failed unexpectedly.
    static Response internalError(std::string_view path);

private:
    void handleApi(const Request& request, const Responder& respond);
    Response handleApp(const Request& request);
    Response signInPage(const Request& request);
    Response signOut(const Request& request);
    Response newBookmarkPage(const Request& request, const User& user);
    Response serveFile(const Request& request, const std::optional<std::filesystem::path>& folder,
                       std::string_view name);
    std::optional<User> currentUser(const Request& request);

    Store& store_;
    TitleFetcher& fetcher_;
    ServedFolders folders_;
};

}  // namespace devservice
