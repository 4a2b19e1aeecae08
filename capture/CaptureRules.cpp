#include "capture/CaptureRules.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

namespace capture {
namespace {

using nlohmann::json;

constexpr std::string_view requestHead = "tell application \"";

// A parse that keeps only the top level: nested arrays and objects are dropped while they are read,
// so neither their size nor their depth costs anything.
json parseFlat(std::string_view text) {
    return json::parse(
        text.begin(), text.end(),
        [](int depth, json::parse_event_t event, json&) {
            const bool opens = event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
            return !(opens && depth > 0);
        },
        false);
}

std::optional<std::string> stringField(const json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

std::optional<double> numberField(const json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_number()) return std::nullopt;
    const double value = found->get<double>();
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

bool isToken(std::string_view text) {
    return !text.empty() && text.size() <= 128 && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
}

std::string hostManifestText(const std::filesystem::path& hostExecutable, bool firefox) {
    json manifest{{"name", hostName},
                  {"description", "Tolvar Desktop: the page you are reading, for quick save"},
                  {"path", hostExecutable.string()},
                  {"type", "stdio"}};
    if (firefox) manifest["allowed_extensions"] = json::array({firefoxExtensionId});
    else manifest["allowed_origins"] = json::array({"chrome-extension://" + std::string(chromiumExtensionId) + "/"});
    return manifest.dump(2) + "\n";
}

}  // namespace

std::optional<std::string> requestApplicationName(std::string_view requestText) {
    if (!requestText.starts_with(requestHead)) return std::nullopt;
    const auto rest = requestText.substr(requestHead.size());
    const auto quote = rest.find('"');
    if (quote == std::string_view::npos || quote == 0) return std::nullopt;
    return std::string(rest.substr(0, quote));
}

MessageVerdict reportFromMessage(std::string_view message) {
    if (message.size() > longestMessage) return {std::nullopt, "message too long"};
    const json parsed = parseFlat(message);
    if (parsed.is_discarded()) return {std::nullopt, "not JSON"};
    if (!parsed.is_object()) return {std::nullopt, "not a JSON object"};
    const auto browser = stringField(parsed, "browser");
    if (!browser) return {std::nullopt, "missing \"browser\""};
    if (core::browserForKey(*browser) == nullptr) return {std::nullopt, "unknown browser"};
    const auto address = stringField(parsed, "address");
    if (!address) return {std::nullopt, "missing \"address\""};
    const auto title = stringField(parsed, "title");
    if (!title) return {std::nullopt, "missing \"title\""};
    if (address->size() > longestText || title->size() > longestText) return {std::nullopt, "text too long"};
    const auto focused = numberField(parsed, "focused");
    if (!focused) return {std::nullopt, "missing \"focused\""};
    if (*focused < 0) return {std::nullopt, "negative \"focused\""};
    return {Report{.browser = *browser, .address = *address, .title = *title, .focused = *focused}, ""};
}

std::string reportingBrowser(std::string_view messageBrowser, std::string_view parentExecutable) {
    if (const auto* parent = core::browserForExecutable(parentExecutable)) return std::string(parent->key);
    return std::string(messageBrowser);
}

std::string encodeStoredReport(const Report& report) {
    return json{{"browser", report.browser}, {"address", report.address}, {"title", report.title},
                {"focused", report.focused}, {"received", report.received}, {"pid", report.pid}}
               .dump() +
           "\n";
}

std::optional<Report> decodeStoredReport(std::string_view text) {
    const json parsed = parseFlat(text);
    if (!parsed.is_object()) return std::nullopt;
    const auto browser = stringField(parsed, "browser");
    const auto address = stringField(parsed, "address");
    const auto title = stringField(parsed, "title");
    const auto focused = numberField(parsed, "focused");
    const auto received = numberField(parsed, "received");
    const auto pid = parsed.find("pid");
    if (!browser || core::browserForKey(*browser) == nullptr || !address || !title || !focused || !received ||
        pid == parsed.end() || !pid->is_number_integer()) {
        return std::nullopt;
    }
    return Report{.browser = *browser,
                  .address = *address,
                  .title = *title,
                  .focused = *focused,
                  .received = *received,
                  .pid = pid->get<std::int64_t>()};
}

std::optional<Page> offeredPage(const Report& report, double now, bool browserProcessRuns) {
    constexpr double allowedClockSkew = 60'000;
    if (report.address.empty() || !browserProcessRuns) return std::nullopt;
    if (report.focused > now + allowedClockSkew) return std::nullopt;
    return Page{report.address, report.title};
}

std::optional<Report> focusedBrowserReport(const std::vector<ReportSighting>& latestReports, double now) {
    const ReportSighting* front = nullptr;
    for (const auto& sighting : latestReports) {
        if (!offeredPage(sighting.report, now, sighting.browserProcessRuns)) continue;
        if (front == nullptr || sighting.report.focused > front->report.focused) front = &sighting;
    }
    if (front == nullptr) return std::nullopt;
    return front->report;
}

std::optional<int> devToolsPort(std::string_view fileText) {
    const auto line = fileText.substr(0, fileText.find('\n'));
    if (line.empty() || line.size() > 5) return std::nullopt;
    int port = 0;
    for (char c : line) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

std::optional<std::vector<DevToolsPage>> devToolsPages(std::string_view answer) {
    const json parsed = json::parse(answer.begin(), answer.end(), nullptr, false);
    if (!parsed.is_array()) return std::nullopt;
    std::vector<DevToolsPage> pages;
    for (const auto& target : parsed) {
        if (!target.is_object()) continue;
        const auto type = stringField(target, "type");
        const auto id = stringField(target, "id");
        const auto address = stringField(target, "url");
        const auto title = stringField(target, "title");
        if (type != "page" || !id || !isToken(*id) || !address || !title) continue;
        pages.push_back({*id, *address, *title});
    }
    return pages;
}

std::optional<bool> evaluatedBoolean(std::string_view message, int id) {
    const json parsed = json::parse(message.begin(), message.end(), nullptr, false);
    if (!parsed.is_object()) return std::nullopt;
    const auto answerId = parsed.find("id");
    if (answerId == parsed.end() || !answerId->is_number_integer() || answerId->get<std::int64_t>() != id) {
        return std::nullopt;
    }
    const auto outer = parsed.find("result");
    if (outer == parsed.end() || !outer->is_object()) return std::nullopt;
    const auto inner = outer->find("result");
    if (inner == outer->end() || !inner->is_object()) return std::nullopt;
    const auto value = inner->find("value");
    if (value == inner->end() || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

std::vector<std::filesystem::path> userDataFolders(const std::vector<std::string>& arguments) {
    constexpr std::string_view option = "--user-data-dir";
    std::vector<std::filesystem::path> folders;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == "--") break;
        if (argument == option) {
            if (i + 1 < arguments.size() && !arguments[i + 1].empty()) folders.emplace_back(arguments[++i]);
        } else if (argument.starts_with(option) && argument.size() > option.size() + 1 &&
                   argument[option.size()] == '=') {
            folders.emplace_back(std::string(argument.substr(option.size() + 1)));
        }
    }
    return folders;
}

std::vector<HostManifest> hostManifests(const std::filesystem::path& hostExecutable, const std::filesystem::path& home,
                                        const std::filesystem::path& configHome) {
    const std::string fileName = std::string(hostName) + ".json";
    std::vector<HostManifest> manifests;
    for (const auto& browser : core::browsers()) {
        if (!browser.runsOnLinux()) continue;
        const bool firefox = browser.configFolder.empty();
        const auto folder = firefox ? home / ".mozilla" / "native-messaging-hosts"
                                    : configHome / browser.configFolder / "NativeMessagingHosts";
        manifests.push_back({std::string(browser.key), folder / fileName, hostManifestText(hostExecutable, firefox)});
    }
    return manifests;
}

}  // namespace capture
