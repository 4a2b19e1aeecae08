#include "bundle/Tools.h"

#include <sstream>

#include "core/Text.h"

namespace bundle {
namespace fs = std::filesystem;

namespace {

constexpr const char* codesignTool = "tolvar-codesign";
constexpr const char* assessTool = "tolvar-assess";
constexpr std::string_view teamMarker = "TeamIdentifier=";
constexpr std::string_view noTeam = "not set";

}  // namespace

platform::ProcessResult run(const std::string& tool, const std::vector<std::string>& arguments) {
    auto result = platform::runProcess(tool, arguments);
    if (!core::isValidUTF8(result.output)) result.output.clear();
    return result;
}

platform::ProcessResult Tools::verify(const fs::path& bundle) const {
    return run((folder_ / codesignTool).string(), {"--verify", "--deep", "--strict", bundle.string()});
}

std::optional<std::string> Tools::team(const fs::path& bundle) const {
    // The exit status says nothing here: an unsigned bundle is described too.
    return teamFromDescription(run((folder_ / codesignTool).string(), {"-dv", bundle.string()}).output);
}

platform::ProcessResult Tools::assess(const fs::path& bundle) const {
    return run((folder_ / assessTool).string(), {"-a", "-t", "exec", "-vv", bundle.string()});
}

std::optional<std::string> teamFromDescription(const std::string& description) {
    std::stringstream lines(description);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with(teamMarker)) continue;
        std::string value = line.substr(teamMarker.size());
        if (value == noTeam) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::string trimmed(const std::string& text) {
    const char* space = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(space);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

}  // namespace bundle
