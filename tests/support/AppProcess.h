#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace testsupport {

// A private temporary folder, removed with this object.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// HOME and the XDG folders of a test user, so settings, web data and caches stay apart from the
// person's own and from other tests.
std::map<std::string, std::optional<std::string>> userEnvironment(const std::filesystem::path& home);

// The built application (or another program), started with extra environment (a value of nothing
// removes a variable) and arguments, in a process group of its own that is terminated with this object.
// With a log file, its standard output and error go there.
class AppProcess {
public:
    AppProcess(const std::filesystem::path& executable, const std::map<std::string, std::optional<std::string>>& env,
               const std::vector<std::string>& arguments = {}, const std::optional<std::filesystem::path>& log = {});
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the process to end, on a descriptor that is ready when it has; answers whether it has.
    bool waitForExit(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL after a grace period; answers the exit status (-1 when killed).
    int terminate(std::chrono::milliseconds grace = std::chrono::seconds(10));

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// The automation journal "events.jsonl" as a driver reads it.
class Journal {
public:
    explicit Journal(std::filesystem::path folder) : folder_(std::move(folder)) {}

    std::vector<nlohmann::json> events() const;
    // The first event with this name (after `afterSeq`) that also satisfies `matches`, waiting for it.
    std::optional<nlohmann::json> waitFor(const std::string& name, std::chrono::milliseconds timeout,
                                          const std::function<bool(const nlohmann::json&)>& matches = {},
                                          int64_t afterSeq = 0) const;

private:
    std::filesystem::path folder_;
};

std::string readFile(const std::filesystem::path& path);

// Asks `done` every 20 ms until it answers true or `timeout` passes; answers its last answer. For
// conditions that no descriptor or file announces (what another program shows, for instance).
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Asks `done` whenever a file in `folder` is created, written or moved there, until it answers true or
// `timeout` passes; answers its last answer.
bool waitForChangeIn(const std::filesystem::path& folder, const std::function<bool()>& done,
                     std::chrono::milliseconds timeout);

// What is left of the time until `deadline`, for poll(2): never less than 0.
int millisecondsUntil(std::chrono::steady_clock::time_point deadline);

// What a shell command prints on standard output (for example xdotool on the test's own display).
std::string commandOutput(const std::string& command);

// Puts text on the clipboard of the test's X display (xclip keeps offering it); false on failure.
bool setClipboard(const std::string& text);

}  // namespace testsupport
