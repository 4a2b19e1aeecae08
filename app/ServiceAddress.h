#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The one address of the service that every page the application opens itself is built from:
// https://web.tolvar.app unless TOLVAR_SERVICE_URL or the Preferences window names another server.
// The update feed, the hosts trusted for updates and the signing team never follow it.
namespace ServiceAddress {

inline constexpr std::string_view variable = "TOLVAR_SERVICE_URL";
// Where the Preferences window keeps an address; read at start.
inline constexpr std::string_view settingKey = "tolvar.serviceAddress";

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
    std::string reason;                  // the same, as the end of a sentence about the address
};

// The configured address when it is an http or https address with a host (and no query, fragment
// or user name); otherwise the default, with a message that says why.
Resolution resolve(const std::optional<std::string>& configured);

// The address text to use. TOLVAR_SERVICE_URL wins whenever it is set, even to an empty value, so a
// person or a test running with it gets exactly that; otherwise the stored address, unless empty.
std::optional<std::string> chosenText(const std::optional<std::string>& environment,
                                      const std::optional<std::string>& stored);

// The address TOLVAR_SERVICE_URL or the stored setting names, or the default. A refused value is
// reported on standard error once per call.
Address configured();

}  // namespace ServiceAddress
