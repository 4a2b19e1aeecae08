#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The one address of the service that every page the application opens itself is built from:
// https://web.tolvar.app unless TOLVAR_SERVICE_URL names another server. The update feed, the hosts
// trusted for updates and the signing team never follow it.
namespace ServiceAddress {

inline constexpr std::string_view variable = "TOLVAR_SERVICE_URL";

struct Address {
    std::string scheme;      // "http" or "https", lower case
    std::string authority;   // host, and ":port" when one was given
    std::string host;        // lower case
    std::string pathPrefix;  // "" or a path without a trailing slash, for a service under a folder

    // The service page at `path` (starting with "/"), with percent-encoded query items.
    std::string page(const std::string& path, const std::vector<std::pair<std::string, std::string>>& query = {}) const;
};

// https://web.tolvar.app.
Address defaultAddress();

struct Resolution {
    Address address;
    std::optional<std::string> refusal;  // why a configured address was not taken
};

// The configured address when it is an http or https address with a host (and no query, fragment
// or user name); otherwise the default, with a message that says why.
Resolution resolve(const std::optional<std::string>& configured);

// The address TOLVAR_SERVICE_URL sets, or the default. A refused value is reported on standard
// error once per call.
Address fromEnvironment();

}  // namespace ServiceAddress
