#pragma once

#include <optional>
#include <string>
#include <string_view>

// Where the update checker looks and what it compares: the feed address, the running version, the
// hosts that may serve the addresses a feed names, and the names of its two persisted keys.
namespace UpdateCheck {

inline constexpr std::string_view lastCheckKey = "tolvar.update.lastCheck";
inline constexpr std::string_view skippedKey = "tolvar.update.skippedVersion";
// The version an in-place install put in place, until the next start has announced it (empty then).
inline constexpr std::string_view installedVersionKey = "tolvar.update.installedVersion";

// Honoured only in automation mode.
inline constexpr std::string_view feedVariable = "TOLVAR_UPDATE_FEED";
inline constexpr std::string_view pretendVersionVariable = "TOLVAR_E2E_PRETEND_VERSION";

// https://<service host>/downloads/version.json, made once.
const std::string& defaultFeed();

// The feed address: TOLVAR_UPDATE_FEED in automation mode when it holds an address, else the
// default. Reads the environment on every call.
std::string feed();

// The running version: TOLVAR_E2E_PRETEND_VERSION in automation mode (even when empty), else
// "CFBundleShortVersionString" of the running bundle's Info.json, else "0".
std::string currentVersion();

// Whether `url` names a host that may serve the update's pages and archives: the service domain or
// one of its subdomains (whole labels, any letter case), or "127.0.0.1" in automation mode.
bool trustedHost(const std::optional<std::string>& url);

// Starts an automatic check when one is due (always in automation mode, otherwise 20 hours after the
// last accepted feed). Returns at once.
void runIfDue(bool atLaunch = false);

// Starts one check now: fetches the feed and, on the main loop, installs a newer build in place or
// offers it; a manual check also reports failures and the absence of a newer version. Returns at once.
void run(bool manual, bool atLaunch = false);

// At start: after an install by the updater, one desktop notification that this start runs the
// version it installed. An ordinary start shows nothing.
void announceInstalledUpdate();

// At quit: cancels the installs still running (a swap already begun is waited for) and waits for
// their threads to end.
void stopInstalls();

// Registers the automation commands "check-for-updates" (the manual check) and "cancel-update"
// (Cancel in the window of a running manual install).
void registerAutomationCommands();

// The same rules on explicit inputs, so they can be exercised without touching the process.
namespace detail {

std::string feed(bool automation, const std::optional<std::string>& feedOverride);

// `bundleVersion` is the version the bundle's Info.json names, when it names one.
std::string currentVersion(bool automation, const std::optional<std::string>& pretendVersion,
                           const std::optional<std::string>& bundleVersion);

bool trustedHost(const std::optional<std::string>& url, bool automation);

}  // namespace detail
}  // namespace UpdateCheck
