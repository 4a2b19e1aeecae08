#include <map>
#include <optional>

#include <gtkmm.h>

#include "core/ApplicationId.h"
#include "platform/MainWindow.h"
#include "platform/gtk/GtkWebView.h"
#include "platform/gtk/Png.h"

namespace platform {
namespace {

using gtk::GtkWebView;

// Other keys that conventionally trigger the same shortcut (the keypad, the unshifted "=").
std::vector<std::string> alternateKeys(const std::string& key) {
    if (key == "plus") return {"equal", "KP_Add"};
    if (key == "minus") return {"KP_Subtract"};
    if (key == "0") return {"KP_0"};
    return {};
}

class GtkMainWindow final : public MainWindow {
public:
    GtkMainWindow(const MainWindowOptions& options, WebViewDelegate& delegate)
        : webView_(webViewOptions(options), delegate),
          accelerators_(Gtk::AccelGroup::create()),
          version_(options.applicationVersion) {
        window_.set_title(options.title);
        window_.add_accel_group(accelerators_);
        window_.set_default_size(int(options.contentRect.width), int(options.contentRect.height));
        window_.move(int(options.contentRect.x), int(options.contentRect.y));
        // A minimum for later resizing only; the first size may be smaller on a small screen.
        Gdk::Geometry limits{};
        limits.min_width = int(options.minimumSize.width);
        limits.min_height = int(options.minimumSize.height);
        window_.set_geometry_hints(window_, limits, Gdk::HINT_MIN_SIZE);

        for (const auto& menu : options.menus) menuBar_.append(*buildMenu(menu));
        layout_.pack_start(menuBar_, Gtk::PACK_SHRINK);
        Gtk::Widget* web = Glib::wrap(webView_.widget());
        layout_.pack_start(*web, Gtk::PACK_EXPAND_WIDGET);
        window_.add(layout_);
        layout_.show_all();

        if (options.frameChanged) watchFrame(options.frameChanged);

        // Closing the window only hides it; the page and its state stay.
        window_.signal_delete_event().connect([this](GdkEventAny*) {
            window_.hide();
            return true;
        });
        if (auto changed = options.visibilityChanged) {
            window_.signal_show().connect([changed] { changed(true); });
            window_.signal_hide().connect([changed] { changed(false); });
        }
        if (auto app = Glib::RefPtr<Gtk::Application>::cast_dynamic(Gio::Application::get_default())) {
            app->add_window(window_);
        }
        web->grab_focus();
    }

    ~GtkMainWindow() override { frameTimer_.disconnect(); }

    WebView& webView() override { return webView_; }

    void present() override {
        window_.show();
        window_.present();
    }

    bool isVisible() const override { return window_.get_visible(); }
    void hide() override { window_.hide(); }

    void setMenuItemTitle(const std::string& key, const std::string& title) override {
        if (const auto found = keyedItems_.find(key); found != keyedItems_.end()) found->second->set_label(title);
    }

    std::optional<std::string> snapshotPNG() const override {
        return gtk::drawWidgetPNG(const_cast<GtkWindow*>(window_.gobj()));
    }

private:
    // Reports the frame once the window has come to rest, rather than at every step of a drag.
    void watchFrame(std::function<void(const Rect&)> frameChanged) {
        window_.signal_configure_event().connect(
            [this, frameChanged = std::move(frameChanged)](GdkEventConfigure*) {
                frameTimer_.disconnect();
                frameTimer_ = Glib::signal_timeout().connect(
                    [this, frameChanged] {
                        if (auto frame = restorableFrame()) frameChanged(*frame);
                        return false;
                    },
                    500);
                return false;
            },
            false);
    }

    std::optional<Rect> restorableFrame() {
        auto gdkWindow = window_.get_window();
        if (!window_.get_visible() || !gdkWindow) return std::nullopt;
        if (gdkWindow->get_state() & (Gdk::WINDOW_STATE_MAXIMIZED | Gdk::WINDOW_STATE_FULLSCREEN)) return std::nullopt;
        int x = 0, y = 0, width = 0, height = 0;
        window_.get_position(x, y);
        window_.get_size(width, height);
        return Rect{double(x), double(y), double(width), double(height)};
    }

    static gtk::WebViewOptions webViewOptions(const MainWindowOptions& options) {
        return {.userAgentApplicationName = options.userAgentApplicationName,
                .ephemeralWebData = options.ephemeralWebData,
                .dataDirectory = (options.dataDirectory / "web").string(),
                .cacheDirectory = Glib::build_filename(Glib::get_user_cache_dir(), "tolvar"),
                .sandboxWebContent = options.sandboxWebContent};
    }

    Gtk::MenuItem* buildMenu(const Menu& menu) {
        auto* top = Gtk::make_managed<Gtk::MenuItem>(menu.title);
        auto* submenu = Gtk::make_managed<Gtk::Menu>();
        submenu->set_accel_group(accelerators_);
        for (const auto& item : menu.items) submenu->append(*buildItem(item));
        top->set_submenu(*submenu);
        return top;
    }

    Gtk::MenuItem* buildItem(const MenuItem& item) {
        if (item.separator) return Gtk::make_managed<Gtk::SeparatorMenuItem>();
        if (item.checked) return buildCheckItem(item);
        auto* widget = Gtk::make_managed<Gtk::MenuItem>(item.title);
        widget->set_sensitive(item.enabled);
        if (!item.key.empty()) keyedItems_[item.key] = widget;
        if (item.action) {
            widget->signal_activate().connect(item.action);
        } else {
            widget->signal_activate().connect([this, standard = item.standard] { perform(standard); });
        }
        if (!item.shortcut.key.empty()) addShortcut(*widget, item.shortcut);
        return widget;
    }

    // A check item shows the state it reads each time its menu opens; setting that state emits
    // "activate" too, so only a click while the menu is up runs the action.
    Gtk::MenuItem* buildCheckItem(const MenuItem& item) {
        auto* widget = Gtk::make_managed<Gtk::CheckMenuItem>(item.title);
        widget->set_sensitive(item.enabled);
        auto showing = std::make_shared<bool>(false);
        widget->signal_activate().connect([showing, action = item.action] {
            if (!*showing && action) action();
        });
        widget->signal_map().connect([widget, showing, checked = item.checked] {
            *showing = true;
            widget->set_active(checked());
            *showing = false;
        });
        return widget;
    }

    void addShortcut(Gtk::MenuItem& widget, const Shortcut& shortcut) {
        auto modifiers = Gdk::CONTROL_MASK;
        if (shortcut.shift) modifiers |= Gdk::SHIFT_MASK;
        if (shortcut.alt) modifiers |= Gdk::MOD1_MASK;
        const auto key = gdk_keyval_to_lower(gdk_keyval_from_name(shortcut.key.c_str()));
        widget.add_accelerator("activate", accelerators_, key, modifiers, Gtk::ACCEL_VISIBLE);
        for (const auto& other : alternateKeys(shortcut.key)) {
            widget.add_accelerator("activate", accelerators_, gdk_keyval_from_name(other.c_str()), modifiers,
                                   Gtk::AccelFlags(0));
        }
    }

    void perform(StandardAction action) {
        switch (action) {
            case StandardAction::about: showAbout(); break;
            case StandardAction::hide: window_.hide(); break;
            case StandardAction::quit:
                if (auto app = window_.get_application()) app->quit();
                break;
            case StandardAction::minimize: window_.iconify(); break;
            case StandardAction::zoom:
                window_.is_maximized() ? window_.unmaximize() : window_.maximize();
                break;
            default: edit(action); break;
        }
    }

    // Editing commands go to the focused content: a text entry, or the page in the web view.
    void edit(StandardAction action) {
        if (auto* entry = dynamic_cast<Gtk::Editable*>(window_.get_focus())) {
            switch (action) {
                case StandardAction::cut: entry->cut_clipboard(); break;
                case StandardAction::copy: entry->copy_clipboard(); break;
                case StandardAction::paste: entry->paste_clipboard(); break;
                case StandardAction::selectAll: entry->select_region(0, -1); break;
                default: break;
            }
            return;
        }
        const char* command = nullptr;
        switch (action) {
            case StandardAction::undo: command = WEBKIT_EDITING_COMMAND_UNDO; break;
            case StandardAction::redo: command = WEBKIT_EDITING_COMMAND_REDO; break;
            case StandardAction::cut: command = WEBKIT_EDITING_COMMAND_CUT; break;
            case StandardAction::copy: command = WEBKIT_EDITING_COMMAND_COPY; break;
            case StandardAction::paste: command = WEBKIT_EDITING_COMMAND_PASTE; break;
            case StandardAction::selectAll: command = WEBKIT_EDITING_COMMAND_SELECT_ALL; break;
            default: return;
        }
        webkit_web_view_execute_editing_command(webView_.view(), command);
    }

    void showAbout() {
        Gtk::AboutDialog about;
        about.set_transient_for(window_);
        about.set_program_name(window_.get_title());
        about.set_version(version_);
        about.set_comments("A desktop companion for the Tolvar bookmarking service.");
        about.set_logo_icon_name(std::string(core::applicationId));
        about.run();
    }

    GtkWebView webView_;
    Glib::RefPtr<Gtk::AccelGroup> accelerators_;
    std::string version_;
    Gtk::Window window_;
    Gtk::Box layout_{Gtk::ORIENTATION_VERTICAL};
    Gtk::MenuBar menuBar_;
    std::map<std::string, Gtk::MenuItem*> keyedItems_;  // owned by their menus
    sigc::connection frameTimer_;
};

}  // namespace

std::unique_ptr<MainWindow> createMainWindow(const MainWindowOptions& options, WebViewDelegate& delegate) {
    return std::make_unique<GtkMainWindow>(options, delegate);
}

}  // namespace platform
