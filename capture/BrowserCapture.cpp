#include "capture/BrowserCapture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "capture/DevTools.h"
#include "capture/ReportStore.h"

namespace capture {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t longestTargetList = 4 * 1024 * 1024;
constexpr std::size_t mostPagesAsked = 12;

double millisecondsSince1970() {
    using namespace std::chrono;
    return static_cast<double>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

bool processRuns(std::int64_t pid) {
    if (pid <= 0) return true;  // unknown: nothing to check
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// A small text file of this user's, read whole; nothing when it is missing, someone else's or big.
std::optional<std::string> readOwnSmallFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> text;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_size < 4096) {
        std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
        const ssize_t got = ::read(fd, bytes.data(), bytes.size());
        if (got >= 0) {
            bytes.resize(static_cast<std::size_t>(got));
            text = std::move(bytes);
        }
    }
    ::close(fd);
    return text;
}

// The ports of the endpoints that the profile folders announce, without repeats.
std::vector<int> announcedPorts(const std::vector<fs::path>& folders) {
    std::vector<int> ports;
    for (const auto& folder : folders) {
        const auto text = readOwnSmallFile(folder / "DevToolsActivePort");
        if (!text) continue;
        const auto port = devToolsPort(*text);
        if (port && std::find(ports.begin(), ports.end(), *port) == ports.end()) ports.push_back(*port);
    }
    return ports;
}

// The focused page of the endpoint on `port`.
std::variant<Page, CaptureError> askEndpoint(int port, Clock::time_point deadline) {
    // The target list gets at most half of what is left, so the pages can still be asked.
    const auto listDeadline = Clock::now() + (deadline - Clock::now()) / 2;
    const auto list = httpGet(port, "/json/list", listDeadline, longestTargetList);
    if (std::holds_alternative<EndpointFailure>(list)) return CaptureError::endpointUnreachable;
    const auto pages = devToolsPages(std::get<std::string>(list));
    if (!pages) return CaptureError::endpointUnreachable;

    bool anyAnswered = false;
    const std::size_t count = std::min(pages->size(), mostPagesAsked);
    for (std::size_t i = 0; i < count && Clock::now() < deadline; ++i) {
        // Each page gets an equal share of what is left, so one hung page cannot starve the rest.
        const auto pageDeadline = Clock::now() + (deadline - Clock::now()) / static_cast<long>(count - i);
        const auto focused = evaluateBooleanInPage(port, (*pages)[i].id, "document.hasFocus()", pageDeadline);
        if (const bool* value = std::get_if<bool>(&focused)) {
            anyAnswered = true;
            if (*value) return Page{(*pages)[i].address, (*pages)[i].title};
        }
    }
    if (pages->empty() || anyAnswered) return CaptureError::noFocusedPage;
    return CaptureError::endpointUnreachable;
}

}  // namespace

fs::path configHome() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') return config;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return fs::path(home) / ".config";
    return {};
}

std::variant<Page, CaptureError> capturePage(std::string_view requestText,
                                             const std::vector<fs::path>& profileFolders,
                                             std::chrono::milliseconds budget) {
    const auto deadline = Clock::now() + budget;
    const auto name = requestApplicationName(requestText);
    const core::Browser* browser = name ? core::browserForApplicationName(*name) : nullptr;
    if (browser == nullptr) return CaptureError::unsupportedRequest;

    if (const auto store = ReportStore::forRuntimeDirectory()) {
        if (const auto report = store->read(browser->key)) {
            if (auto page = offeredPage(*report, millisecondsSince1970(), processRuns(report->pid))) return *page;
        }
    }

    if (browser->configFolder.empty()) return CaptureError::noSource;
    std::vector<fs::path> folders = profileFolders;
    if (const auto config = configHome(); !config.empty()) folders.push_back(config / browser->configFolder);
    const auto ports = announcedPorts(folders);
    if (ports.empty()) return CaptureError::noSource;

    CaptureError failure = CaptureError::endpointUnreachable;
    for (const int port : ports) {
        if (Clock::now() >= deadline) break;
        auto answer = askEndpoint(port, deadline);
        if (std::holds_alternative<Page>(answer)) return answer;
        failure = std::get<CaptureError>(answer);
        if (failure == CaptureError::noFocusedPage) break;
    }
    return failure;
}

std::optional<std::string> frontBrowserFromReports() {
    const auto store = ReportStore::forRuntimeDirectory();
    if (!store) return std::nullopt;
    std::vector<ReportSighting> latest;
    for (const auto& browser : core::browsers()) {
        if (!browser.runsOnLinux()) continue;
        if (auto report = store->read(browser.key)) {
            const bool runs = processRuns(report->pid);
            latest.push_back({std::move(*report), runs});
        }
    }
    const auto front = focusedBrowserReport(latest, millisecondsSince1970());
    if (!front) return std::nullopt;
    return std::string(core::browserForKey(front->browser)->identifier);
}

std::vector<fs::path> profileFoldersOfProcess(pid_t pid) {
    if (pid <= 0) return {};
    const fs::path process = fs::path("/proc") / std::to_string(pid);
    struct stat info {};
    if (::stat(process.c_str(), &info) != 0 || info.st_uid != geteuid()) return {};
    std::ifstream file(process / "cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    std::size_t total = 0;
    for (std::string argument; std::getline(file, argument, '\0') && total < 256 * 1024;) {
        total += argument.size() + 1;
        arguments.push_back(std::move(argument));
    }
    std::vector<fs::path> folders;
    for (auto& folder : userDataFolders(arguments)) {
        if (folder.is_absolute()) folders.push_back(std::move(folder));
    }
    return folders;
}

}  // namespace capture
