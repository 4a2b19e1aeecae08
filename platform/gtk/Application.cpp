#include "platform/Application.h"

#include <glib-unix.h>
#include <gtkmm.h>

#include <algorithm>
#include <csignal>

#include "platform/Bundle.h"

namespace platform {
namespace {

constexpr const char* quickSaveOption = "--quick-save";
constexpr const char* quickSaveActionName = "quick-save";

constexpr const char* backgroundOption = "--background";

bool asksFor(const Glib::RefPtr<Gio::ApplicationCommandLine>& commandLine, const char* option) {
    int count = 0;
    char** arguments = commandLine->get_arguments(count);
    const bool found = std::any_of(arguments, arguments + count,
                                   [option](const char* argument) { return std::string(argument) == option; });
    g_strfreev(arguments);
    return found;
}

// Every window carries the application's icon, found in the installed icon theme or, for a bundle
// run where it lies, in the bundle's own share/icons.
void useApplicationIcon(const std::string& applicationId) {
    if (const auto bundle = runningBundleDir()) {
        Gtk::IconTheme::get_default()->append_search_path((*bundle / "share" / "icons").string());
    }
    Gtk::Window::set_default_icon_name(applicationId);
}

}  // namespace

int runApplication(const std::string& applicationId, int argc, char** argv, ApplicationHooks hooks) {
    // Every launch is routed to the first instance, which launches once and reopens (or opens the
    // quick-save panel for "--quick-save") for every later one.
    auto app = Gtk::Application::create(applicationId, Gio::APPLICATION_HANDLES_COMMAND_LINE);
    bool launched = false;
    auto activate = [&](bool quickSave) {
        if (!launched) {
            launched = true;
            // The application lives on with its window hidden: only Quit ends it.
            app->hold();
            useApplicationIcon(applicationId);
            if (hooks.launch) hooks.launch();
        } else if (!quickSave && hooks.reopen) {
            hooks.reopen();
        }
        if (quickSave && hooks.quickSave) hooks.quickSave();
    };
    app->signal_activate().connect([&] { activate(false); });
    // The launcher (bin/tolvar) asks a running instance for this action over the session bus
    // instead of forwarding "--quick-save" as a command line, which needs the whole toolkit loaded.
    auto quickSaveAction = Gio::SimpleAction::create(quickSaveActionName);
    quickSaveAction->signal_activate().connect([&](const Glib::VariantBase&) { activate(true); });
    app->add_action(quickSaveAction);
    app->signal_command_line().connect(
        [&](const Glib::RefPtr<Gio::ApplicationCommandLine>& commandLine) {
            // A later "--background" launch (a second login start) leaves the running Tolvar as it is.
            if (launched && asksFor(commandLine, backgroundOption)) return 0;
            activate(asksFor(commandLine, quickSaveOption));
            return 0;
        },
        false);
    // SIGTERM and SIGINT end the application the same way as its Quit item.
    for (int signal : {SIGTERM, SIGINT}) {
        g_unix_signal_add(
            signal,
            [](gpointer application) -> gboolean {
                g_application_quit(G_APPLICATION(application));
                return G_SOURCE_CONTINUE;
            },
            app->gobj());
    }
    return app->run(argc, argv);
}

std::string userDataDirectory(const std::string& applicationName) {
    return Glib::build_filename(Glib::get_user_data_dir(), applicationName);
}

}  // namespace platform
