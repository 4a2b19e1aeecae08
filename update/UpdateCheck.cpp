#include "update/UpdateCheck.h"

#include <algorithm>

#include "bundle/Description.h"
#include "core/ServiceEndpoints.h"
#include "automation/E2E.h"
#include "platform/Bundle.h"
#include "core/Environment.h"
#include "platform/Url.h"
#include "core/Text.h"
#include "update/UpdateInfo.h"

namespace UpdateCheck {
namespace {

// The version the running bundle's Info.json names, when there is one to read.
std::optional<std::string> runningBundleVersion() {
    const auto running = platform::runningBundleDir();
    const auto info = running ? bundle::readInfo(*running) : std::nullopt;
    if (!info || info->version.empty()) return std::nullopt;
    return info->version;
}

// A host name made only of ASCII letters, digits and hyphens in non-empty labels. Anything else
// that a lenient parse can leave in a host (a decoded "/" or "@", white space, an IP literal) is
// refused before the domain test, so no such host can pass for one of ours.
bool isPlainHostName(std::string_view host) {
    if (host.empty() || host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos)
        return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    });
}

}  // namespace

const std::string& defaultFeed() {
    static const std::string address =
        "https://" + std::string(ServiceEndpoints::serviceHost) + std::string(ServiceEndpoints::versionFeedPath);
    return address;
}

std::string feed() {
    const bool automation = E2E::enabled();
    return detail::feed(automation, automation ? core::environmentValue(std::string(feedVariable)) : std::nullopt);
}

std::string currentVersion() {
    const bool automation = E2E::enabled();
    const auto pretend = automation ? core::environmentValue(std::string(pretendVersionVariable)) : std::nullopt;
    // The bundle is read only when no override answers.
    return detail::currentVersion(automation, pretend, pretend ? std::nullopt : runningBundleVersion());
}

bool trustedHost(const std::optional<std::string>& url) { return detail::trustedHost(url, E2E::enabled()); }

namespace detail {

std::string feed(bool automation, const std::optional<std::string>& feedOverride) {
    if (automation && feedOverride && platform::parseURL(*feedOverride)) return *feedOverride;
    return defaultFeed();
}

std::string currentVersion(bool automation, const std::optional<std::string>& pretendVersion,
                           const std::optional<std::string>& bundleVersion) {
    if (automation && pretendVersion) return *pretendVersion;
    return bundleVersion.value_or("0");
}

bool trustedHost(const std::optional<std::string>& url, bool automation) {
    if (!url) return false;
    // An address that two parsers could read differently is refused: the browser that opens the
    // download page treats a backslash as a slash and drops tabs and line breaks, the HTTP stack
    // does neither, and the parser here stops at a NUL byte. Such characters have no place in the
    // addresses the feed names.
    if (url->find_first_of(std::string_view("\\\t\n\r\0", 5)) != std::string::npos) return false;
    const auto parsed = platform::parseURL(*url);
    if (!parsed || !parsed->host) return false;
    const std::string& host = *parsed->host;

    if (automation && host == "127.0.0.1") return true;
    if (!isPlainHostName(host)) return false;

    // The service domain itself, or a name that ends with a full stop and the domain: the domain
    // must start at a label boundary, so "eviltolvar.app" is not one of ours.
    return ServiceEndpoints::isOnDomain(core::asciiLowercased(host), ServiceEndpoints::serviceDomain);
}

}  // namespace detail
}  // namespace UpdateCheck
