#include "tests/support/AppProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {
namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "tolvar-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::map<std::string, std::optional<std::string>> userEnvironment(const fs::path& home) {
    const fs::path runtime = home / "runtime";
    for (const char* sub : {"config", "data", "cache", "runtime"}) fs::create_directories(home / sub);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    return {{"HOME", home.string()},
            {"XDG_CONFIG_HOME", (home / "config").string()},
            {"XDG_DATA_HOME", (home / "data").string()},
            {"XDG_CACHE_HOME", (home / "cache").string()},
            {"XDG_RUNTIME_DIR", runtime.string()},
            // The person's own service address must not steer a test.
            {"TOLVAR_SERVICE_URL", std::nullopt}};
}

AppProcess::AppProcess(const fs::path& executable, const std::map<std::string, std::optional<std::string>>& env,
                       const std::vector<std::string>& arguments, const std::optional<fs::path>& log) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : env) {
        if (value) merged[name] = *value;
        else merged.erase(name);
    }
    std::vector<std::string> texts;
    for (const auto& [name, value] : merged) texts.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& text : texts) envp.push_back(text.data());
    envp.push_back(nullptr);
    std::string program = executable.string();
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        setpgid(0, 0);
        if (log) {
            const int out = open(log->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    setpgid(pid_, pid_);
}

AppProcess::~AppProcess() { terminate(std::chrono::seconds(5)); }

bool AppProcess::running() {
    if (status_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

bool AppProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (!running()) return true;
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (ended < 0) return waitUntil([this] { return !running(); }, timeout);
    pollfd ready{ended, POLLIN, 0};
    poll(&ready, 1, static_cast<int>(timeout.count()));
    close(ended);
    return !running();
}

int AppProcess::terminate(std::chrono::milliseconds grace) {
    if (status_) return *status_;
    kill(pid_, SIGTERM);
    if (!waitForExit(grace)) {
        kill(-pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        status_ = -1;
    }
    // The web engine's helper processes belong to the group; none may outlive the test.
    kill(-pid_, SIGKILL);
    return *status_;
}

bool setClipboard(const std::string& text) {
    FILE* pipe = ::popen("xclip -selection clipboard -in 2>/dev/null", "w");
    if (pipe == nullptr) return false;
    std::fwrite(text.data(), 1, text.size(), pipe);
    return ::pclose(pipe) == 0;
}

std::string commandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
        ::pclose(pipe);
    }
    return output;
}

int millisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

bool waitForChangeIn(const fs::path& folder, const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const int changes = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (changes < 0 || inotify_add_watch(changes, folder.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        if (changes >= 0) close(changes);
        return waitUntil(done, timeout);  // a folder that is not there yet
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool answer = false;
    for (pollfd ready{changes, POLLIN, 0}; !(answer = done()) && poll(&ready, 1, millisecondsUntil(deadline)) > 0;) {
        char events[4096];
        while (read(changes, events, sizeof events) > 0) {
        }
    }
    close(changes);
    return answer;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    for (const auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<nlohmann::json> Journal::events() const {
    std::vector<nlohmann::json> lines;
    std::istringstream text(readFile(folder_ / "events.jsonl"));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

std::optional<nlohmann::json> Journal::waitFor(const std::string& name, std::chrono::milliseconds timeout,
                                               const std::function<bool(const nlohmann::json&)>& matches,
                                               int64_t afterSeq) const {
    std::optional<nlohmann::json> found;
    waitForChangeIn(folder_, [&] {
        for (const auto& event : events()) {
            if (event.value("event", "") == name && event.value("seq", int64_t(0)) > afterSeq && (!matches || matches(event))) {
                found = event;
                return true;
            }
        }
        return false;
    }, timeout);
    return found;
}

}  // namespace testsupport
