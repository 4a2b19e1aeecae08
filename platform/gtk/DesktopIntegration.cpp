#include "platform/DesktopIntegration.h"

#include <map>

#include <gtkmm.h>
// X11 headers only after gtkmm's, whose names they would clash with.
#include <gdk/gdkwayland.h>
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

// The handlers of the hot keys held, by accelerator, kept until the key is let go.
std::map<std::string, std::unique_ptr<Handler>>& heldHotKeys() {
    static std::map<std::string, std::unique_ptr<Handler>> held;
    return held;
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
    if (heldHotKeys().contains(accelerator)) return false;
    auto kept = std::make_unique<Handler>(std::move(handler));
    if (!keybinder_bind(accelerator.c_str(), onHotKey, kept.get())) return false;
    heldHotKeys()[accelerator] = std::move(kept);
    return true;
}

void unregisterGlobalHotKey(const std::string& accelerator) {
    const auto held = heldHotKeys().find(accelerator);
    if (held == heldHotKeys().end()) return;
    keybinder_unbind(accelerator.c_str(), onHotKey);
    heldHotKeys().erase(held);
}

bool isWaylandSession() {
    GdkDisplay* display = gdk_display_get_default();
    return display != nullptr && GDK_IS_WAYLAND_DISPLAY(display);
}

void noteActivationToken(const std::string& token) {
    GdkDisplay* display = gdk_display_get_default();
    if (display != nullptr && GDK_IS_WAYLAND_DISPLAY(display) && !token.empty()) {
        gdk_wayland_display_set_startup_notification_id(display, token.c_str());
    }
}

namespace {

class IndicatorStatusItem final : public StatusItem {
public:
    IndicatorStatusItem(const std::string& id, const std::string& tooltip, const std::vector<MenuItem>& items)
        : id_(id), tooltip_(tooltip) {
        for (const auto& item : items) menu_->append(*buildItem(item));
        menu_->show_all();
        menu_->reference();  // owned by the indicator for the life of the process
        // Without a StatusNotifier host the indicator falls back to an X11 tray icon, which a
        // Wayland display cannot show (GTK complains at every start); there it waits for a host.
        if (!isWaylandSession()) {
            showIndicator();
            return;
        }
        watch_ = g_bus_watch_name(G_BUS_TYPE_SESSION, "org.kde.StatusNotifierWatcher", G_BUS_NAME_WATCHER_FLAGS_NONE,
                                  &IndicatorStatusItem::onHostAppeared, nullptr, this, nullptr);
    }

    ~IndicatorStatusItem() override {
        if (watch_ != 0) g_bus_unwatch_name(watch_);
    }

    void setTooltip(const std::string& tooltip) override {
        tooltip_ = tooltip;
        if (indicator_ != nullptr) app_indicator_set_title(indicator_, tooltip.c_str());
    }

    void setItemTitle(std::size_t index, const std::string& title) override {
        if (auto* item = itemAt(index)) item->set_label(title);
    }

    std::string itemTitle(std::size_t index) const override {
        const auto* item = itemAt(index);
        return item != nullptr ? std::string(item->get_label()) : std::string();
    }

    void setShown(bool shown) override {
        shown_ = shown;
        if (indicator_ != nullptr) app_indicator_set_status(indicator_, currentStatus());
    }

private:
    static void onHostAppeared(GDBusConnection*, const char*, const char*, gpointer self) {
        auto* item = static_cast<IndicatorStatusItem*>(self);
        if (item->indicator_ == nullptr) item->showIndicator();
    }

    void showIndicator() {
        indicator_ = app_indicator_new(id_.c_str(), id_.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
        if (auto bundle = runningBundleDir()) {
            app_indicator_set_icon_theme_path(indicator_, (*bundle / "share" / "icons").c_str());
        }
        // The symbolic icon, which the bundle and the installation also carry as small pictures: drawing
        // those needs no SVG loader in this process.
        app_indicator_set_icon_full(indicator_, (id_ + "-symbolic").c_str(), "Tolvar");
        app_indicator_set_title(indicator_, tooltip_.c_str());
        app_indicator_set_menu(indicator_, menu_->gobj());
        app_indicator_set_status(indicator_, currentStatus());
    }

    AppIndicatorStatus currentStatus() const {
        return shown_ ? APP_INDICATOR_STATUS_ACTIVE : APP_INDICATOR_STATUS_PASSIVE;
    }

    static Gtk::MenuItem* buildItem(const MenuItem& item) {
        if (item.separator) return Gtk::make_managed<Gtk::SeparatorMenuItem>();
        auto* widget = Gtk::make_managed<Gtk::MenuItem>(item.title);
        if (item.action) {
            widget->signal_activate().connect(item.action);
        } else if (item.standard == StandardAction::quit) {
            widget->signal_activate().connect([] {
                if (auto app = Gio::Application::get_default()) app->quit();
            });
        }
        return widget;
    }

    Gtk::MenuItem* itemAt(std::size_t index) const {
        const auto children = menu_->get_children();
        if (index >= children.size()) return nullptr;
        return dynamic_cast<Gtk::MenuItem*>(children[index]);
    }

    std::string id_;
    std::string tooltip_;
    Gtk::Menu* menu_ = Gtk::make_managed<Gtk::Menu>();
    AppIndicator* indicator_ = nullptr;  // kept for the life of the process
    guint watch_ = 0;
    bool shown_ = true;
};

}  // namespace

std::unique_ptr<StatusItem> installStatusItem(const std::string& id, const std::string& tooltip,
                                              const std::vector<MenuItem>& items) {
    return std::make_unique<IndicatorStatusItem>(id, tooltip, items);
}

}  // namespace platform
