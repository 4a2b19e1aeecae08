#include "platform/Process.h"

#include <gio/gio.h>
#include <unistd.h>

#include <csignal>
#include <memory>

namespace platform {
namespace {

std::vector<const char*> argv(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<const char*> list{program.c_str()};
    for (const auto& argument : arguments) list.push_back(argument.c_str());
    list.push_back(nullptr);
    return list;
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments) {
    GError* error = nullptr;
    const auto list = argv(program, arguments);
    GSubprocess* process = g_subprocess_newv(
        list.data(), static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_MERGE),
        &error);
    if (process == nullptr) {
        ProcessResult result{-1, error != nullptr ? error->message : "the program could not be started"};
        g_clear_error(&error);
        return result;
    }
    // Reads the pipe to its end, then waits for the child.
    GBytes* output = nullptr;
    const gboolean communicated = g_subprocess_communicate(process, nullptr, nullptr, &output, nullptr, &error);
    ProcessResult result;
    if (!communicated) {
        g_subprocess_force_exit(process);
        g_subprocess_wait(process, nullptr, nullptr);
        result.output = error != nullptr ? error->message : "reading the program's output failed";
        g_clear_error(&error);
    } else if (output != nullptr) {
        gsize size = 0;
        const auto* data = static_cast<const char*>(g_bytes_get_data(output, &size));
        result.output.assign(data != nullptr ? data : "", size);
    }
    if (output != nullptr) g_bytes_unref(output);
    if (g_subprocess_get_if_exited(process)) result.status = g_subprocess_get_exit_status(process);
    else if (g_subprocess_get_if_signaled(process)) result.status = g_subprocess_get_term_sig(process);
    else result.status = -1;
    if (!communicated && result.status == 0) result.status = -1;
    g_object_unref(process);
    return result;
}

bool startDetached(const std::string& program, const std::vector<std::string>& arguments) {
    GError* error = nullptr;
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE);
    gchar** environment = g_get_environ();
    g_subprocess_launcher_set_environ(launcher, environment);
    g_strfreev(environment);
    const auto list = argv(program, arguments);
    GSubprocess* process = g_subprocess_launcher_spawnv(launcher, list.data(), &error);
    g_object_unref(launcher);
    g_clear_error(&error);
    if (process == nullptr) return false;
    g_object_unref(process);  // the child runs on; GLib reaps it when it ends
    return true;
}

void quitApplication() {
    if (GApplication* application = g_application_get_default()) g_application_quit(application);
}

int processId() { return static_cast<int>(::getpid()); }

}  // namespace platform
