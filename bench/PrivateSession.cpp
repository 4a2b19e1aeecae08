#include "bench/PrivateSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "bench/ProcessTree.h"

extern char** environ;

namespace bench {
namespace {

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> list;
    for (auto& word : words) list.push_back(word.data());
    list.push_back(nullptr);
    return list;
}

std::vector<std::string> mergedEnvironment(const Environment& changes) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : changes) {
        if (value) merged[name] = *value;
        else merged.erase(name);
    }
    std::vector<std::string> texts;
    for (const auto& [name, value] : merged) texts.push_back(name + "=" + value);
    return texts;
}

// Starts a server that announces where it listens on its standard output, and reads that line.
std::string startAndReadFirstLine(std::vector<std::string> arguments) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid == 0) {
        // Should the benchmark be killed, its display and bus go too, and the programs on them.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        auto argv = pointers(arguments);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string line;
    pollfd readable{.fd = out[0], .events = POLLIN, .revents = 0};
    char byte = 0;
    while (poll(&readable, 1, 20000) == 1 && read(out[0], &byte, 1) == 1 && byte != '\n') line += byte;
    close(out[0]);
    if (pid < 0 || line.empty()) throw std::runtime_error("could not start " + arguments[0]);
    return line;
}

}  // namespace

PrivateSession::PrivateSession() {
    display_ = ":" + startAndReadFirstLine({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten",
                                            "tcp", "-noreset"});
    const std::string bus = startAndReadFirstLine(
        {"dbus-daemon", "--config-file=" SESSION_BUS_CONFIG, "--nofork", "--print-address=1"});
    environment_ = testsupport::userEnvironment(home());
    environment_["DISPLAY"] = display_;
    environment_["DBUS_SESSION_BUS_ADDRESS"] = bus;
    environment_["NO_AT_BRIDGE"] = "1";
    for (const char* unset : {"WAYLAND_DISPLAY", "TOLVAR_E2E_DIR", "TOLVAR_E2E_SESSION", "TOLVAR_START_URL",
                              "TOLVAR_UPDATE_FEED", "WEBKIT_DISABLE_DMABUF_RENDERER"}) {
        environment_[unset] = std::nullopt;
    }
    x_ = std::make_unique<XDisplay>(display_);
}

PrivateSession::~PrivateSession() {
    x_.reset();
    killDescendants();
}

void PrivateSession::setClipboard(const std::string& text) {
    const std::string command = "xclip -display " + display_ + " -selection clipboard -in 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "w");
    if (pipe == nullptr) throw std::runtime_error("cannot run xclip");
    fwrite(text.data(), 1, text.size(), pipe);
    if (pclose(pipe) != 0) throw std::runtime_error("xclip failed");
}

int runQuietly(const std::vector<std::string>& arguments, const Environment& environment) {
    auto words = arguments;
    auto envTexts = mergedEnvironment(environment);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        auto argv = pointers(words);
        auto envp = pointers(envTexts);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bench
