#include "platform/Application.h"

#include <gtkmm.h>

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
    // The program takes no arguments; only the program name reaches GApplication.
    return app->run(argc > 0 ? 1 : 0, argv);
}

std::string userDataDirectory(const std::string& applicationName) {
    return Glib::build_filename(Glib::get_user_data_dir(), applicationName);
}

}  // namespace platform
