#include "automation/CommandPump.h"

#include <fstream>
#include <sstream>

#include "automation/E2E.h"
#include "platform/MainLoop.h"
#include "platform/Text.h"

namespace E2E {
namespace {

constexpr double pollInterval = 0.2;

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return text.str();
}

}  // namespace

void startCommandPump(CommandRunner run) {
    if (!enabled()) return;
    auto pump = std::make_shared<detail::CommandPump>(*dir() / "cmd", std::move(run));
    static platform::Timer timer;  // runs for the life of the process
    timer = platform::repeatEvery(pollInterval, [pump] { pump->tick(); });
}

namespace detail {

std::optional<std::vector<std::string>> commandLines(const std::string& bytes) {
    if (!platform::isValidUTF8(bytes)) return std::nullopt;
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        if (end > start) lines.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void CommandPump::tick() {
    // A command that waits on the main loop (the clipboard, for one) must not let the next tick
    // start later lines before it has finished.
    if (running_) return;
    running_ = true;
    tickOnce();
    running_ = false;
}

void CommandPump::tickOnce() {
    const auto bytes = readFile(file_);
    if (!bytes) return;
    const auto lines = commandLines(*bytes);
    if (!lines) return;
    while (processed_ < std::int64_t(lines->size())) {
        const std::string line = (*lines)[size_t(processed_)];
        ++processed_;
        run_(line);
    }
}

}  // namespace detail
}  // namespace E2E
