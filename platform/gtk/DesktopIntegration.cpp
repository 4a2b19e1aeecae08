#include "platform/DesktopIntegration.h"

#include <gtkmm.h>
// X11 headers only after gtkmm's, whose names they would clash with.
#include <gdk/gdkx.h>
#include <keybinder.h>
#include <libayatana-appindicator/app-indicator.h>

#include "platform/Bundle.h"
#include "platform/gtk/ActivationTime.h"

namespace platform {
namespace {

using Handler = std::function<void()>;

void onHotKey(const char*, gpointer data) {
    gtk::noteActivationTime(keybinder_get_current_event_time());
    (*static_cast<Handler*>(data))();
}

}  // namespace

bool registerGlobalHotKey(const std::string& accelerator, std::function<void()> handler) {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
    static bool initialised = false;
    if (!initialised) {
        keybinder_init();
        initialised = true;
    }
    auto* kept = new Handler(std::move(handler));  // lives as long as the hot key: the whole process
    if (keybinder_bind(accelerator.c_str(), onHotKey, kept)) return true;
    delete kept;
    return false;
}

void installStatusItem(const std::string& id, const std::string& tooltip, const std::vector<MenuItem>& items) {
    auto* menu = Gtk::make_managed<Gtk::Menu>();
    for (const auto& item : items) {
        if (item.separator) {
            menu->append(*Gtk::make_managed<Gtk::SeparatorMenuItem>());
            continue;
        }
        auto* widget = Gtk::make_managed<Gtk::MenuItem>(item.title);
        if (item.action) {
            widget->signal_activate().connect(item.action);
        } else if (item.standard == StandardAction::quit) {
            widget->signal_activate().connect([] {
                if (auto app = Gio::Application::get_default()) app->quit();
            });
        }
        menu->append(*widget);
    }
    menu->show_all();
    menu->reference();  // owned by the indicator for the life of the process

    AppIndicator* indicator = app_indicator_new(id.c_str(), id.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
    if (auto bundle = runningBundleDir()) {
        app_indicator_set_icon_theme_path(indicator, (*bundle / "share" / "icons").c_str());
    }
    // The symbolic icon, which the bundle and the installation also carry as small pictures: drawing
    // those needs no SVG loader in this process.
    app_indicator_set_icon_full(indicator, (id + "-symbolic").c_str(), "Tolvar");
    app_indicator_set_title(indicator, tooltip.c_str());
    app_indicator_set_menu(indicator, menu->gobj());
    app_indicator_set_status(indicator, APP_INDICATOR_STATUS_ACTIVE);
}

}  // namespace platform
