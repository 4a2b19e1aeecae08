#include "platform/WebSandbox.h"

#include <glib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

constexpr const char* bubblewrap = "/usr/bin/bwrap";

// A trial run of bubblewrap, started and not yet waited for.
struct Trial {
    GPid pid = 0;
    int errorOutput = -1;
    std::string startFailure;  // set when bubblewrap could not be started at all
};

std::optional<Trial>& pendingTrial() {
    static std::optional<Trial> trial;
    return trial;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string readToEnd(int descriptor) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count > 0) text.append(buffer, std::size_t(count));
        else if (count == 0 || errno != EINTR) break;
    }
    return text;
}

int waitForExit(GPid pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// The engine's own way of starting its web process, cut down to running `true`.
Trial startTrial() {
    const char* argv[] = {bubblewrap, "--ro-bind", "/", "/", "--proc", "/proc", "--dev", "/dev",
                          "--unshare-all", "--die-with-parent", "true", nullptr};
    Trial trial;
    GError* error = nullptr;
    if (!g_spawn_async_with_pipes(nullptr, const_cast<char**>(argv), nullptr,
                                  GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL), nullptr, nullptr,
                                  &trial.pid, nullptr, nullptr, &trial.errorOutput, &error)) {
        trial.startFailure = std::string("bubblewrap could not be started: ") + error->message;
        g_clear_error(&error);
    }
    return trial;
}

}  // namespace

void startWebSandboxProbe() {
    if (!pendingTrial() && g_file_test(bubblewrap, G_FILE_TEST_IS_EXECUTABLE)) pendingTrial() = startTrial();
}

std::optional<std::string> webSandboxProblem() {
    if (!g_file_test(bubblewrap, G_FILE_TEST_IS_EXECUTABLE)) {
        return std::string(bubblewrap) + " is missing (install the package bubblewrap)";
    }
    startWebSandboxProbe();
    const Trial trial = *pendingTrial();
    pendingTrial().reset();
    if (!trial.startFailure.empty()) return trial.startFailure;

    // Its complaint is short; read to the end before waiting, so a full pipe cannot stall it.
    const std::string complaint = trimmed(readToEnd(trial.errorOutput));
    ::close(trial.errorOutput);
    if (g_spawn_check_wait_status(waitForExit(trial.pid), nullptr)) return std::nullopt;
    return complaint.empty() ? "bubblewrap failed without saying why" : complaint;
}

}  // namespace platform
