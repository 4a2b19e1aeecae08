#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The automation command file: a driver appends lines to "cmd" in the automation folder and the
// application runs each new line once, in order.
namespace E2E {

using CommandRunner = std::function<void(const std::string& line)>;

// Reads the command file every 0.2 seconds for the life of the process. Does nothing when
// automation is off.
void startCommandPump(CommandRunner run);

namespace detail {

// The non-empty lines of a command file split at bare line feeds, or nothing when the bytes are
// not UTF-8.
std::optional<std::vector<std::string>> commandLines(const std::string& bytes);

// Runs the lines of `file` that have not run yet. The counter goes up before a line runs, so a
// command is never run twice, also when the file is later shortened or replaced.
class CommandPump {
public:
    CommandPump(std::filesystem::path file, CommandRunner run) : file_(std::move(file)), run_(std::move(run)) {}
    void tick();
    std::int64_t processed() const { return processed_; }

private:
    void tickOnce();

    std::filesystem::path file_;
    CommandRunner run_;
    std::int64_t processed_ = 0;
    bool running_ = false;
};

}  // namespace detail
}  // namespace E2E
