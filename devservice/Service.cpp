#include "devservice/Service.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include <nlohmann/json.hpp>

#include "devservice/Pages.h"
#include "devservice/Text.h"
#include "core/Text.h"

namespace devservice {
namespace {

using nlohmann::json;

constexpr std::string_view apiPrefix = "/api/trpc/";
constexpr std::string_view jsonType = "application/json";
constexpr std::string_view htmlType = "text/html; charset=utf-8";

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool sameName(std::string_view a, std::string_view b) { return core::asciiLowercased(a) == core::asciiLowercased(b); }

// The RPC error codes and names that the batched web API answers with, by HTTP status.
struct ApiError {
    int status;
    int code;
    const char* name;
};
constexpr ApiError badRequest{400, -32600, "BAD_REQUEST"};
constexpr ApiError unauthorized{401, -32001, "UNAUTHORIZED"};
constexpr ApiError forbidden{403, -32003, "FORBIDDEN"};
constexpr ApiError notFound{404, -32004, "NOT_FOUND"};
constexpr ApiError methodNotSupported{405, -32005, "METHOD_NOT_SUPPORTED"};
constexpr ApiError payloadTooLarge{413, -32013, "PAYLOAD_TOO_LARGE"};
constexpr ApiError unsupportedMediaType{415, -32015, "UNSUPPORTED_MEDIA_TYPE"};
constexpr ApiError internal{500, -32603, "INTERNAL_SERVER_ERROR"};

std::string dumpJson(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

Response jsonResponse(int status, const json& value) {
    return Response{status, std::string(jsonType), dumpJson(value), {{"Cache-Control", "no-store"}}};
}

Response apiResult(const json& data) { return jsonResponse(200, json::array({{{"result", {{"data", {{"json", data}}}}}}})); }

Response apiError(const ApiError& kind, const std::string& message, std::string_view procedure) {
    json error = {{"message", message},
                  {"code", kind.code},
                  {"data", {{"code", kind.name}, {"httpStatus", kind.status}, {"path", std::string(procedure)}}}};
    return jsonResponse(kind.status, json::array({{{"error", {{"json", error}}}}}));
}

Response htmlResponse(int status, std::string body) {
    return Response{status,
                    std::string(htmlType),
                    std::move(body),
                    {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}, {"X-Frame-Options", "DENY"}}};
}

Response redirect(const std::string& location) {
    return Response{303, "", "", {{"Location", location}, {"Cache-Control", "no-store"}}};
}

Response methodNotAllowed(const char* allow) {
    auto response = htmlResponse(405, pages::message("Method not allowed", "This address does not take that method."));
    response.headers.emplace_back("Allow", allow);
    return response;
}

Response notFoundPage() { return htmlResponse(404, pages::message("Not found", "Nothing lives at this address.")); }

std::string sessionCookieHeader(const std::string& token) {
    return std::string(Service::sessionCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Lax; Max-Age=" +
           std::to_string(Store::sessionLifetime.count());
}

std::string clearedSessionCookieHeader() {
    return std::string(Service::sessionCookie) + "=; Path=/; HttpOnly; SameSite=Lax; Max-Age=0";
}

// The media type of a Content-Type value, lower-cased, without parameters.
std::string mediaType(const std::optional<std::string>& contentType) {
    if (!contentType) return {};
    const auto value = std::string_view(*contentType);
    return core::asciiLowercased(text::trimAscii(value.substr(0, value.find(';'))));
}

// A request from a page of another origin is refused: browsers send Origin with every POST, and
// the service's own pages and the desktop application's page scripts share its origin.
bool crossOrigin(const Request& request) {
    const auto origin = request.header("Origin");
    const auto host = request.header("Host");
    if (!origin || !host) return false;
    return *origin != "http://" + *host;
}

// Where to go after signing in: only pages of the web application, never another site.
std::string safeNext(const std::optional<std::string>& next) {
    if (!next) return "/app";
    const std::string_view value = *next;
    const bool inApp = value == "/app" || startsWith(value, "/app/") || startsWith(value, "/app?");
    if (!inApp || value.find('\\') != std::string_view::npos) return "/app";
    for (char c : value) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "/app";
    }
    return text::percentEncodeUnsafe(value);
}

// The request's own address (path and query) as a relative reference.
std::string requestTarget(const Request& request) {
    std::string target;
    for (char c : request.path) {
        if (c == '?' || c == '#' || c == '%') {
            target += text::percentEncodeComponent(std::string_view(&c, 1));
        } else {
            target += c;
        }
    }
    target = text::percentEncodeUnsafe(target);
    if (!request.query.empty()) target += "?" + text::percentEncodeUnsafe(request.query);
    return target;
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

}  // namespace

std::optional<std::string> Request::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (sameName(key, name)) return value;
    }
    return std::nullopt;
}

std::vector<std::string> Request::headerValues(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : headers) {
        if (sameName(key, name)) values.push_back(value);
    }
    return values;
}

Service::Service(Store& store, TitleFetcher& fetcher, ServedFolders folders)
    : store_(store), fetcher_(fetcher), folders_(std::move(folders)) {}

std::size_t Service::bodyLimit(std::string_view path) {
    return startsWith(path, "/api/") ? apiBodyLimit : formBodyLimit;
}

Response Service::bodyTooLarge(std::string_view path) {
    const auto limit = bodyLimit(path);
    const auto message = "The request body is larger than " + std::to_string(limit / 1024) + " KiB.";
    if (startsWith(path, apiPrefix)) return apiError(payloadTooLarge, message, path.substr(apiPrefix.size()));
    return htmlResponse(413, pages::message("Request too large", message));
}

Response Service::internalError(std::string_view path) {
    const std::string message = "The service could not handle this request.";
    if (startsWith(path, apiPrefix)) return apiError(internal, message, path.substr(apiPrefix.size()));
    return htmlResponse(500, pages::message("Something went wrong", message));
}

void Service::handle(const Request& request, const Responder& respond) {
    const std::string_view path = request.path;
    try {
        if (path == "/") {
            respond(redirect("/app"));
        } else if (startsWith(path, "/api/")) {
            handleApi(request, respond);
        } else if (path == "/app" || startsWith(path, "/app/")) {
            respond(handleApp(request));
        } else if (startsWith(path, "/downloads/")) {
            respond(serveFile(request, folders_.releases, path.substr(std::string_view("/downloads/").size())));
        } else if (startsWith(path, "/fixtures/")) {
            respond(serveFile(request, folders_.pages, path.substr(std::string_view("/fixtures/").size())));
        } else {
            respond(notFoundPage());
        }
    } catch (const std::exception&) {
        respond(internalError(path));
    }
}

std::optional<User> Service::currentUser(const Request& request) {
    for (const auto& header : request.headerValues("Cookie")) {
        for (const auto& token : text::cookieValues(header, sessionCookie)) {
            if (!text::isCookieSafe(token)) continue;
            if (auto user = store_.userForSession(token)) return user;
        }
    }
    return std::nullopt;
}

void Service::handleApi(const Request& request, const Responder& respond) {
    const std::string_view path = request.path;
    if (!startsWith(path, apiPrefix)) {
        respond(apiError(notFound, "No such API.", ""));
        return;
    }
    const std::string procedure(path.substr(apiPrefix.size()));
    const bool isCreate = procedure == "bookmarks.create";
    const bool isFetchMetadata = procedure == "bookmarks.fetchMetadata";
    const bool isList = procedure == "bookmarks.list";
    if (!isCreate && !isFetchMetadata && !isList) {
        respond(apiError(notFound, "No procedure named \"" + procedure + "\".", procedure));
        return;
    }
    const char* method = isList ? "GET" : "POST";
    if (request.method != method && !(isList && request.method == "HEAD")) {
        auto response = apiError(methodNotSupported, std::string("This procedure takes ") + method + " requests.",
                                 procedure);
        response.headers.emplace_back("Allow", isList ? "GET, HEAD" : "POST");
        respond(std::move(response));
        return;
    }
    if (text::formValue(text::decodeForm(request.query), "batch") != "1") {
        respond(apiError(badRequest, "Only batched calls (?batch=1) are supported.", procedure));
        return;
    }
    const auto user = currentUser(request);
    if (!user) {
        respond(apiError(unauthorized, "UNAUTHORIZED", procedure));
        return;
    }
    if (isList) {
        json list = json::array();
        for (const auto& bookmark : store_.bookmarks(user->id)) list.push_back(bookmarkJson(bookmark));
        respond(apiResult({{"bookmarks", list}}));
        return;
    }
    if (crossOrigin(request)) {
        respond(apiError(forbidden, "Calls from other sites are not allowed.", procedure));
        return;
    }
    if (mediaType(request.header("Content-Type")) != jsonType) {
        respond(apiError(unsupportedMediaType, "The request body must be sent as application/json.", procedure));
        return;
    }

    if (isCreate) {
        auto input = parseCreateCall(request.body);
        if (auto* error = std::get_if<InputError>(&input)) {
            respond(apiError(badRequest, error->message, procedure));
            return;
        }
        const auto result = store_.createBookmark(user->id, std::get<NewBookmark>(input));
        auto data = bookmarkJson(result.bookmark);
        data["alreadyExists"] = result.alreadyExists;
        respond(apiResult(data));
        return;
    }

    auto url = parseFetchMetadataCall(request.body);
    if (auto* error = std::get_if<InputError>(&url)) {
        respond(apiError(badRequest, error->message, procedure));
        return;
    }
    const auto address = std::get<std::string>(url);
    fetcher_.fetchTitle(address, [respond, address](std::string title) {
        respond(apiResult({{"url", address}, {"title", title}}));
    });
}

Response Service::handleApp(const Request& request) {
    const std::string_view path = request.path;
    if (path == "/app/signin") return signInPage(request);
    if (path == "/app/signout") return signOut(request);

    const auto user = currentUser(request);
    if (!user) return redirect("/app/signin?next=" + text::percentEncodeComponent(requestTarget(request)));

    if (path == "/app" || path == "/app/") {
        if (request.method != "GET" && request.method != "HEAD") return methodNotAllowed("GET, HEAD");
        const auto notice = text::formValue(text::decodeForm(request.query), "notice");
        const auto shown = notice == "saved"    ? pages::Notice::saved
                           : notice == "exists" ? pages::Notice::alreadySaved
                                                : pages::Notice::none;
        return htmlResponse(200, pages::bookmarkList(user->name, store_.bookmarks(user->id), shown));
    }
    if (path == "/app/bookmarks/new") return newBookmarkPage(request, *user);
    return notFoundPage();
}

Response Service::signInPage(const Request& request) {
    if (request.method == "GET" || request.method == "HEAD") {
        const auto query = text::decodeForm(request.query);
        const auto next = safeNext(text::formValue(query, "next"));
        if (currentUser(request)) return redirect(next);
        return htmlResponse(200, pages::signIn(next, "", ""));
    }
    if (request.method != "POST") return methodNotAllowed("GET, HEAD, POST");
    if (crossOrigin(request)) return htmlResponse(403, pages::message("Forbidden", "Sign in from this site's own page."));

    const auto form = text::decodeForm(request.body);
    const auto next = safeNext(text::formValue(form, "next"));
    const auto name = text::formValue(form, "name").value_or("");
    const auto password = text::formValue(form, "password").value_or("");
    const auto user = store_.checkPassword(name, password);
    if (!user) {
        return htmlResponse(401, pages::signIn(next, text::sanitizeUtf8(name), "Wrong name or password."));
    }
    auto response = redirect(next);
    response.headers.emplace_back("Set-Cookie", sessionCookieHeader(store_.createSession(user->id)));
    return response;
}

Response Service::signOut(const Request& request) {
    if (request.method != "GET" && request.method != "POST") return methodNotAllowed("GET, POST");
    for (const auto& header : request.headerValues("Cookie")) {
        for (const auto& token : text::cookieValues(header, sessionCookie)) store_.deleteSession(token);
    }
    auto response = redirect("/app/signin");
    response.headers.emplace_back("Set-Cookie", clearedSessionCookieHeader());
    return response;
}

Response Service::newBookmarkPage(const Request& request, const User& user) {
    if (request.method == "GET" || request.method == "HEAD") {
        const auto query = text::decodeForm(request.query);
        pages::BookmarkForm form;
        form.url = text::sanitizeUtf8(text::formValue(query, "url").value_or(""));
        form.title = text::sanitizeUtf8(text::formValue(query, "title").value_or(""));
        return htmlResponse(200, pages::newBookmark(user.name, form, ""));
    }
    if (request.method != "POST") return methodNotAllowed("GET, HEAD, POST");
    if (crossOrigin(request)) return htmlResponse(403, pages::message("Forbidden", "Save from this site's own page."));

    const auto fields = text::decodeForm(request.body);
    pages::BookmarkForm form;
    form.url = std::string(text::trimAscii(text::formValue(fields, "url").value_or("")));
    form.title = std::string(text::trimAscii(text::formValue(fields, "title").value_or("")));
    form.tags = text::formValue(fields, "tags").value_or("");
    form.readLater = text::formValue(fields, "readLater").has_value();

    auto checked = validateBookmark(form.url, form.title, splitTagsField(form.tags), form.readLater);
    if (auto* error = std::get_if<InputError>(&checked)) {
        form.url = text::sanitizeUtf8(form.url);
        form.title = text::sanitizeUtf8(form.title);
        form.tags = text::sanitizeUtf8(form.tags);
        return htmlResponse(400, pages::newBookmark(user.name, form, error->message));
    }
    const auto result = store_.createBookmark(user.id, std::get<NewBookmark>(checked));
    return redirect(result.alreadyExists ? "/app?notice=exists" : "/app?notice=saved");
}

Response Service::serveFile(const Request& request, const std::optional<std::filesystem::path>& folder,
                            std::string_view name) {
    if (request.method != "GET" && request.method != "HEAD") return methodNotAllowed("GET, HEAD");
    if (!folder || !text::isSafeFileName(name)) return notFoundPage();
    auto bytes = readWholeFile(*folder / std::string(name));
    if (!bytes) return notFoundPage();
    return Response{200, text::contentTypeForFileName(name), std::move(*bytes), {{"Cache-Control", "no-store"}}};
}

}  // namespace devservice
