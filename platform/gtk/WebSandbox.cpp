#include "platform/WebSandbox.h"

#include <glib.h>

namespace platform {
namespace {

constexpr const char* bubblewrap = "/usr/bin/bwrap";

std::string trimmed(const char* text) {
    std::string result = text != nullptr ? text : "";
    while (!result.empty() && (result.back() == '\n' || result.back() == ' ')) result.pop_back();
    return result;
}

}  // namespace

std::optional<std::string> webSandboxProblem() {
    if (!g_file_test(bubblewrap, G_FILE_TEST_IS_EXECUTABLE)) {
        return std::string(bubblewrap) + " is missing (install the package bubblewrap)";
    }
    const char* argv[] = {bubblewrap, "--ro-bind", "/", "/", "--proc", "/proc", "--dev", "/dev",
                          "--unshare-all", "--die-with-parent", "true", nullptr};
    gchar* errorOutput = nullptr;
    gint status = 0;
    GError* error = nullptr;
    const bool ran = g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_STDOUT_TO_DEV_NULL, nullptr,
                                  nullptr, nullptr, &errorOutput, &status, &error);
    std::optional<std::string> problem;
    if (!ran) problem = std::string("bubblewrap could not be started: ") + error->message;
    else if (!g_spawn_check_wait_status(status, nullptr)) problem = trimmed(errorOutput);
    if (problem && problem->empty()) problem = "bubblewrap failed without saying why";
    g_clear_error(&error);
    g_free(errorOutput);
    return problem;
}

}  // namespace platform
