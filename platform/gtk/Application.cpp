#include "platform/Application.h"

#include <glib-unix.h>
#include <gtkmm.h>

#include <csignal>

namespace platform {

int runApplication(const std::string& applicationId, int argc, char** argv, ApplicationHooks hooks) {
    auto app = Gtk::Application::create(applicationId);
    bool launched = false;
    app->signal_activate().connect([&] {
        if (launched) {
            if (hooks.reopen) hooks.reopen();
            return;
        }
        launched = true;
        // The application lives on with its window hidden: only Quit ends it.
        app->hold();
        if (hooks.didFinishLaunching) hooks.didFinishLaunching();
    });
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
    // The program takes no arguments; only the program name reaches GApplication.
    return app->run(argc > 0 ? 1 : 0, argv);
}

std::string userDataDirectory(const std::string& applicationName) {
    return Glib::build_filename(Glib::get_user_data_dir(), applicationName);
}

}  // namespace platform
