#include "platform/Url.h"

#include <glib.h>

#include <memory>

namespace platform {
namespace {

struct UriDeleter {
    void operator()(GUri* uri) const { g_uri_unref(uri); }
};
using UriPtr = std::unique_ptr<GUri, UriDeleter>;

std::string escapeQueryPart(const std::string& text) {
    // Everything but the unreserved characters is escaped, so "&", "=", "+" and "#" in a value
    // survive the round trip.
    char* escaped = g_uri_escape_string(text.c_str(), nullptr, FALSE);
    std::string result(escaped);
    g_free(escaped);
    return result;
}

}  // namespace

std::optional<ParsedURL> parseURL(const std::string& text) {
    GError* error = nullptr;
    UriPtr uri(g_uri_parse(text.c_str(), G_URI_FLAGS_ENCODED, &error));
    if (!uri) {
        g_clear_error(&error);
        return std::nullopt;
    }
    // GUri lower-cases the scheme; callers want it as written, which is the text before the colon.
    ParsedURL parsed{.scheme = text.substr(0, text.find(':')), .host = std::nullopt, .text = text};
    const char* host = g_uri_get_host(uri.get());
    if (host != nullptr && *host != '\0') parsed.host = host;
    if (g_uri_get_port(uri.get()) > 0) parsed.port = g_uri_get_port(uri.get());
    parsed.path = g_uri_get_path(uri.get());
    parsed.hasQueryOrFragment = g_uri_get_query(uri.get()) != nullptr || g_uri_get_fragment(uri.get()) != nullptr;
    parsed.hasUserInfo = g_uri_get_userinfo(uri.get()) != nullptr;
    return parsed;
}

std::optional<std::string> resolveURL(const std::string& base, const std::string& reference) {
    GError* error = nullptr;
    char* resolved = g_uri_resolve_relative(base.empty() ? nullptr : base.c_str(), reference.c_str(),
                                            G_URI_FLAGS_ENCODED, &error);
    if (resolved == nullptr) {
        g_clear_error(&error);
        return std::nullopt;
    }
    std::string result(resolved);
    g_free(resolved);
    return result;
}

std::string buildURL(const std::string& scheme, const std::string& host, const std::string& path,
                     const std::vector<std::pair<std::string, std::string>>& queryItems) {
    std::string url = scheme + "://" + host + path;
    char separator = '?';
    for (const auto& [name, value] : queryItems) {
        url += separator + escapeQueryPart(name) + "=" + escapeQueryPart(value);
        separator = '&';
    }
    return url;
}

std::optional<std::string> queryItemValue(const std::string& url, const std::string& name) {
    GError* error = nullptr;
    UriPtr uri(g_uri_parse(url.c_str(), G_URI_FLAGS_ENCODED_QUERY, &error));
    if (!uri) {
        g_clear_error(&error);
        return std::nullopt;
    }
    const char* query = g_uri_get_query(uri.get());
    if (query == nullptr) return std::nullopt;
    GHashTable* items = g_uri_parse_params(query, -1, "&", G_URI_PARAMS_NONE, nullptr);
    if (items == nullptr) return std::nullopt;
    std::optional<std::string> value;
    if (auto* found = static_cast<const char*>(g_hash_table_lookup(items, name.c_str()))) value = found;
    g_hash_table_unref(items);
    return value;
}

}  // namespace platform
