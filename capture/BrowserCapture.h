#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "capture/CaptureRules.h"

// The page capture: from a capture request's browser name to the page that browser shows, first
// from the extension's latest report, then from the browser's remote-debugging endpoint. The whole
// capture keeps to a time budget.
namespace capture {

inline constexpr std::chrono::milliseconds captureBudget{600};

// The page of the browser that `requestText` names, or why there is none. `profileFolders` are
// profile folders of the running browser beyond its default one (where a "DevToolsActivePort" may
// be), most likely first.
std::variant<Page, CaptureError> capturePage(std::string_view requestText,
                                             const std::vector<std::filesystem::path>& profileFolders,
                                             std::chrono::milliseconds budget = captureBudget);

// The identifier of the browser in front according to the extension's latest reports, for when the
// active window cannot be read; nothing when no report says its browser has the focus.
std::optional<std::string> frontBrowserFromReports();

// The absolute profile folders that process `pid`, when it is this user's, names with
// --user-data-dir on its command line.
std::vector<std::filesystem::path> profileFoldersOfProcess(pid_t pid);

// The user's XDG config folder: $XDG_CONFIG_HOME when absolute, else ~/.config.
std::filesystem::path configHome();

}  // namespace capture
