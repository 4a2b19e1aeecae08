#include <optional>
#include <utility>

#include <gtkmm.h>

#include "platform/PreferencesWindow.h"
#include "platform/gtk/ActivationTime.h"
#include "platform/gtk/Png.h"

namespace platform {
namespace {

constexpr const char* windowStyle = R"(
.tolvar-preferences .note { font-size: 11px; }
.tolvar-preferences .message-error { color: #c01c28; }
)";

constexpr const char* recordingLabel = "Press a combination… (Esc cancels)";

// A key press as an accelerator ("<Ctrl><Alt>k"); nothing for a modifier pressed alone.
std::optional<std::string> acceleratorOf(const GdkEventKey& event) {
    if (event.is_modifier) return std::nullopt;
    const char* name = gdk_keyval_name(gdk_keyval_to_lower(event.keyval));
    if (name == nullptr) return std::nullopt;
    std::string text;
    if (event.state & GDK_CONTROL_MASK) text += "<Ctrl>";
    if (event.state & GDK_MOD1_MASK) text += "<Alt>";
    if (event.state & GDK_SHIFT_MASK) text += "<Shift>";
    if (event.state & (GDK_SUPER_MASK | GDK_MOD4_MASK)) text += "<Super>";
    return text + name;
}

Gtk::Label* caption(const std::string& text) {
    auto* label = Gtk::make_managed<Gtk::Label>(text);
    label->set_xalign(1);
    return label;
}

void setUpNote(Gtk::Label& label) {
    label.get_style_context()->add_class("note");
    label.set_xalign(0);
    label.set_line_wrap(true);
    label.set_max_width_chars(56);
}

void showMessage(Gtk::Label& label, const std::string& text) {
    label.set_text(text);
    label.set_visible(!text.empty());
}

class GtkPreferencesWindow final : public PreferencesWindow {
public:
    explicit GtkPreferencesWindow(PreferencesActions actions) : actions_(std::move(actions)) {
        window_.set_title("Preferences");
        window_.set_resizable(false);
        window_.set_border_width(18);
        window_.get_style_context()->add_class("tolvar-preferences");
        auto css = Gtk::CssProvider::create();
        css->load_from_data(windowStyle);
        Gtk::StyleContext::add_provider_for_screen(Gdk::Screen::get_default(), css,
                                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        if (auto app = Glib::RefPtr<Gtk::Application>::cast_dynamic(Gio::Application::get_default())) {
            app->add_window(window_);
        }
        layOut();
        connectSignals();
    }

    void present(const PreferencesState& state) override {
        stopRecording();
        showMessage(shortcutMessage_, "");
        showMessage(addressMessage_, "");
        showMessage(loginMessage_, "");
        showMessage(browsersMessage_, "");
        refresh(state);
        // Shown before it is presented: without a window manager, only a mapped window takes the focus.
        window_.show();
        window_.present(gtk::activationTime());
    }

    void refresh(const PreferencesState& state) override {
        filling_ = true;
        shortcut_ = state.shortcut;
        const bool grabs = state.shortcutChoice == ShortcutChoice::keyGrab;
        shortcutButton_.set_visible(grabs);
        shortcutText_.set_visible(!grabs);
        settingsButton_.set_visible(state.shortcutChoice == ShortcutChoice::desktopPortal &&
                                    state.offersShortcutSettings);
        shortcutHint_.set_text(hintFor(state.shortcutChoice));
        refreshGnomeKeybinding(state);
        if (!recording_) shortcutButton_.set_label(shortcutOrNone());
        shortcutText_.set_text(shortcutOrNone());
        startAtLogin_.set_active(state.startsAtLogin);
        statusIcon_.set_active(state.showsStatusIcon);
        addressEntry_.set_text(state.serviceAddress);
        addressEntry_.set_sensitive(!state.serviceAddressLocked);
        applyButton_.set_sensitive(!state.serviceAddressLocked);
        addressNote_.set_text(state.serviceAddressNote);
        fillBrowsers(state.browsers);
        filling_ = false;
    }

    void clickSetUpBrowser(const std::string& browserKey) override {
        for (auto* row : browserRows_.get_children()) {
            auto* box = dynamic_cast<Gtk::Box*>(row);
            auto* button = box != nullptr ? dynamic_cast<Gtk::Button*>(box->get_children().back()) : nullptr;
            if (button != nullptr && button->get_name() == browserKey && button->get_visible()) button->clicked();
        }
    }
    std::string browsersMessage() const override { return browsersMessage_.get_text(); }

    void recordShortcut() override {
        recording_ = true;
        shortcutButton_.set_label(recordingLabel);
        showMessage(shortcutMessage_, "");
    }

    void offerShortcut(const std::string& accelerator) override {
        stopRecording();
        const std::string message = actions_.changeShortcut ? actions_.changeShortcut(accelerator) : "";
        showMessage(shortcutMessage_, message);
    }

    void clickShortcutSettings() override {
        if (settingsButton_.get_visible()) settingsButton_.clicked();
    }
    bool showsShortcutSettings() const override { return settingsButton_.get_visible(); }

    std::string shortcutMessage() const override { return shortcutMessage_.get_text(); }
    std::string shownShortcut() const override {
        return shortcutButton_.get_visible() ? std::string(shortcutButton_.get_label())
                                             : std::string(shortcutText_.get_text());
    }
    bool isRecording() const override { return recording_; }

    void clickGnomeKeybinding() override {
        if (gnomeButton_.get_visible()) gnomeButton_.clicked();
    }
    std::string gnomeKeybindingButton() const override {
        return gnomeButton_.get_visible() ? std::string(gnomeButton_.get_label()) : "";
    }
    bool isVisible() const override { return window_.get_visible(); }
    bool isKey() const override { return window_.is_active(); }

    std::optional<std::string> snapshotPNG() const override {
        return gtk::drawWidgetPNG(const_cast<GtkWindow*>(window_.gobj()));
    }

private:
    void layOut() {
        grid_.set_row_spacing(8);
        grid_.set_column_spacing(12);
        auto* shortcutRow = Gtk::make_managed<Gtk::Box>(Gtk::ORIENTATION_HORIZONTAL, 8);
        shortcutRow->pack_start(shortcutButton_, Gtk::PACK_SHRINK);
        shortcutRow->pack_start(shortcutText_, Gtk::PACK_SHRINK);
        shortcutRow->pack_start(settingsButton_, Gtk::PACK_SHRINK);
        shortcutRow->pack_start(gnomeButton_, Gtk::PACK_SHRINK);
        grid_.attach(*caption("Quick-save shortcut:"), 0, 0);
        grid_.attach(*shortcutRow, 1, 0);
        for (auto* note : {&shortcutHint_, &shortcutMessage_, &addressNote_, &addressMessage_}) setUpNote(*note);
        shortcutMessage_.get_style_context()->add_class("message-error");
        addressMessage_.get_style_context()->add_class("message-error");
        grid_.attach(shortcutHint_, 1, 1);
        grid_.attach(shortcutMessage_, 1, 2);
        // The check box with the line that says when the login item could not be changed.
        auto* loginRow = Gtk::make_managed<Gtk::Box>(Gtk::ORIENTATION_VERTICAL, 4);
        setUpNote(loginMessage_);
        loginMessage_.get_style_context()->add_class("message-error");
        loginRow->pack_start(startAtLogin_, Gtk::PACK_SHRINK);
        loginRow->pack_start(loginMessage_, Gtk::PACK_SHRINK);
        grid_.attach(*loginRow, 1, 3);
        grid_.attach(statusIcon_, 1, 4);
        auto* addressRow = Gtk::make_managed<Gtk::Box>(Gtk::ORIENTATION_HORIZONTAL, 8);
        addressEntry_.set_placeholder_text("https://…");
        addressEntry_.set_width_chars(36);
        addressRow->pack_start(addressEntry_, Gtk::PACK_EXPAND_WIDGET);
        addressRow->pack_start(applyButton_, Gtk::PACK_SHRINK);
        grid_.attach(*caption("Service address:"), 0, 5);
        grid_.attach(*addressRow, 1, 5);
        grid_.attach(addressNote_, 1, 6);
        grid_.attach(addressMessage_, 1, 7);
        layOutBrowsers();
        window_.add(grid_);
        grid_.show_all();
        shortcutMessage_.hide();
        addressMessage_.hide();
        loginMessage_.hide();
        browsersMessage_.hide();
    }

    // The "Browsers" section: a row per browser found, each with its state and, where the per-user
    // route can install the extension, a "Set Up" button.
    void layOutBrowsers() {
        browserRows_.set_spacing(4);
        grid_.attach(*caption("Browsers:"), 0, 8);
        grid_.attach(browserRows_, 1, 8);
        grid_.attach(browsersMessage_, 1, 9);
        setUpNote(browsersMessage_);
    }

    void fillBrowsers(const std::vector<BrowserRow>& browsers) {
        for (auto* row : browserRows_.get_children()) delete row;
        if (browsers.empty()) {
            auto* none = Gtk::make_managed<Gtk::Label>("No supported browser found.");
            none->set_halign(Gtk::ALIGN_START);
            browserRows_.pack_start(*none, Gtk::PACK_SHRINK);
        }
        for (const auto& browser : browsers) {
            auto* row = Gtk::make_managed<Gtk::Box>(Gtk::ORIENTATION_HORIZONTAL, 8);
            auto* text = Gtk::make_managed<Gtk::Label>(browser.name + ": " + browser.summary);
            text->set_halign(Gtk::ALIGN_START);
            text->set_line_wrap(true);
            row->pack_start(*text, Gtk::PACK_EXPAND_WIDGET);
            auto* setUp = Gtk::make_managed<Gtk::Button>("Set Up");
            setUp->set_name(browser.key);
            setUp->set_no_show_all(!browser.offersSetUp);
            setUp->signal_clicked().connect([this, key = browser.key] {
                if (actions_.setUpBrowser) showMessage(browsersMessage_, actions_.setUpBrowser(key));
            });
            row->pack_start(*setUp, Gtk::PACK_SHRINK);
            browserRows_.pack_start(*row, Gtk::PACK_SHRINK);
        }
        browserRows_.show_all();
    }

    void connectSignals() {
        window_.signal_delete_event().connect([this](GdkEventAny*) {
            stopRecording();
            window_.hide();
            return true;
        });
        // Ahead of the window's own handling, so that a recorded combination reaches no control.
        window_.signal_key_press_event().connect(sigc::mem_fun(*this, &GtkPreferencesWindow::keyPressed), false);
        shortcutButton_.signal_clicked().connect([this] { recordShortcut(); });
        settingsButton_.signal_clicked().connect([this] {
            if (actions_.openShortcutSettings) actions_.openShortcutSettings();
        });
        startAtLogin_.signal_toggled().connect([this] {
            if (!filling_ && actions_.setStartAtLogin) {
                showMessage(loginMessage_, actions_.setStartAtLogin(startAtLogin_.get_active()));
            }
        });
        statusIcon_.signal_toggled().connect([this] {
            if (!filling_ && actions_.setShowStatusIcon) actions_.setShowStatusIcon(statusIcon_.get_active());
        });
        connectGnomeKeybinding();
        addressEntry_.signal_activate().connect([this] { applyAddress(); });
        applyButton_.signal_clicked().connect([this] { applyAddress(); });
    }

    // GNOME's keyboard shortcuts: one button adds this program's entry, or removes it once added.
    void refreshGnomeKeybinding(const PreferencesState& state) {
        gnomeAdded_ = state.gnomeKeybindingAdded;
        gnomeButton_.set_visible(state.shortcutChoice == ShortcutChoice::gnomeKeybinding);
        gnomeButton_.set_label(gnomeAdded_ ? "Remove from GNOME's keyboard shortcuts"
                                           : "Add Ctrl+Alt+B to GNOME's keyboard shortcuts");
        if (state.shortcutChoice == ShortcutChoice::gnomeKeybinding && gnomeAdded_) {
            shortcutHint_.set_text("GNOME runs quick save on this shortcut; change it in GNOME's Settings, Keyboard.");
        }
    }

    void connectGnomeKeybinding() {
        gnomeButton_.signal_clicked().connect([this] {
            const auto& action = gnomeAdded_ ? actions_.removeGnomeKeybinding : actions_.addGnomeKeybinding;
            if (action) showMessage(shortcutMessage_, action());
        });
    }

    bool keyPressed(GdkEventKey* event) {
        if (!recording_) return false;
        const bool plainEscape = event->keyval == GDK_KEY_Escape &&
                                 (event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_SHIFT_MASK)) == 0;
        if (plainEscape) {
            stopRecording();
            return true;
        }
        if (auto accelerator = acceleratorOf(*event)) offerShortcut(*accelerator);
        return true;
    }

    void stopRecording() {
        recording_ = false;
        shortcutButton_.set_label(shortcutOrNone());
    }

    void applyAddress() {
        if (!actions_.setServiceAddress) return;
        showMessage(addressMessage_, actions_.setServiceAddress(addressEntry_.get_text()));
    }

    std::string shortcutOrNone() const { return shortcut_.empty() ? "None" : shortcut_; }

    static std::string hintFor(ShortcutChoice choice) {
        switch (choice) {
            case ShortcutChoice::keyGrab: return "Click the shortcut, then press the new combination.";
            case ShortcutChoice::desktopPortal: return "The desktop binds this shortcut in its own settings.";
            case ShortcutChoice::gnomeKeybinding:
                return "GNOME offers programs no global shortcut; its own keyboard shortcuts can run quick save.";
            case ShortcutChoice::none: break;
        }
        return "This desktop offers no global shortcut here: bind one to “tolvar --quick-save” in its keyboard "
               "settings.";
    }

    PreferencesActions actions_;
    Gtk::Window window_;
    Gtk::Grid grid_;
    Gtk::Button shortcutButton_;
    Gtk::Label shortcutText_;
    Gtk::Button settingsButton_{"Open Shortcut Settings…"};
    Gtk::Button gnomeButton_;
    bool gnomeAdded_ = false;
    Gtk::Label shortcutHint_;
    Gtk::Label shortcutMessage_;
    Gtk::CheckButton startAtLogin_{"Start at Login"};
    Gtk::Label loginMessage_;
    Gtk::CheckButton statusIcon_{"Show status icon"};
    Gtk::Entry addressEntry_;
    Gtk::Button applyButton_{"Apply"};
    Gtk::Label addressNote_;
    Gtk::Label addressMessage_;
    Gtk::Box browserRows_{Gtk::ORIENTATION_VERTICAL};
    Gtk::Label browsersMessage_;
    std::string shortcut_;
    bool recording_ = false;
    bool filling_ = false;
};

}  // namespace

std::unique_ptr<PreferencesWindow> createPreferencesWindow(PreferencesActions actions) {
    return std::make_unique<GtkPreferencesWindow>(std::move(actions));
}

}  // namespace platform
