#pragma once

#include <string_view>

// The fixed names and paths of the Tolvar service, shared by the shell, quick save and the updater:
// the one HTTPS host that serves the web application, its web API and the version feed, and the
// domain on which the download page and the update archives lie.
namespace ServiceEndpoints {

inline constexpr std::string_view serviceHost = "web.tolvar.app";
// The registered domain of the service host: it and its subdomains count as the application's own.
inline constexpr std::string_view serviceDomain = "tolvar.app";
// The identity provider's sign-in host, which the main window may show.
inline constexpr std::string_view signInHost = "accounts.google.com";
inline constexpr std::string_view loopbackName = "localhost";
inline constexpr std::string_view cookieName = "tolvar_session";
// Names another start address for the main window.
inline constexpr std::string_view startURLVariable = "TOLVAR_START_URL";

inline constexpr std::string_view appPath = "/app";
inline constexpr std::string_view newBookmarkPath = "/app/bookmarks/new";
inline constexpr std::string_view createPath = "/api/trpc/bookmarks.create?batch=1";
inline constexpr std::string_view fetchMetadataPath = "/api/trpc/bookmarks.fetchMetadata?batch=1";
inline constexpr std::string_view versionFeedPath = "/downloads/version.json";

// Whether a lower-case host is `domain` or one of its subdomains. The domain must start at a label
// boundary, so "eviltolvar.app" is not on "tolvar.app".
constexpr bool isOnDomain(std::string_view host, std::string_view domain) {
    if (host == domain) return true;
    return host.size() > domain.size() && host.ends_with(domain) && host[host.size() - domain.size() - 1] == '.';
}

}  // namespace ServiceEndpoints
