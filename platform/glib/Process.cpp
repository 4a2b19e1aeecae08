#include "platform/Process.h"

#include <gio/gio.h>
#include <unistd.h>

#include <csignal>
#include <memory>

#include "platform/glib/GObjectPtr.h"

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
    const GObjectPtr<GSubprocess> owned(g_subprocess_newv(
        list.data(), static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_MERGE),
        &error));
    GSubprocess* process = owned.get();
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
    return result;
}

bool startDetached(const std::string& program, const std::vector<std::string>& arguments) {
    GError* error = nullptr;
    const GObjectPtr<GSubprocessLauncher> launcher(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE));
    gchar** environment = g_get_environ();
    g_subprocess_launcher_set_environ(launcher.get(), environment);
    g_strfreev(environment);
    const auto list = argv(program, arguments);
    // Dropped at once: the child runs on, and GLib reaps it when it ends.
    const GObjectPtr<GSubprocess> process(g_subprocess_launcher_spawnv(launcher.get(), list.data(), &error));
    g_clear_error(&error);
    return process != nullptr;
}

void quitApplication() {
    if (GApplication* application = g_application_get_default()) g_application_quit(application);
}

int processId() { return static_cast<int>(::getpid()); }

}  // namespace platform
