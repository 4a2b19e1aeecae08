#include <utility>

#include <atk/atk.h>
#include <gtkmm.h>

#include "platform/QuickSavePanel.h"
#include "platform/gtk/ActivationTime.h"
#include "platform/gtk/LiveLabel.h"
#include "platform/gtk/Png.h"

namespace platform {
namespace {

constexpr int panelWidth = 520;
constexpr int panelHeight = 246;

// Small captions, a compact form that fits the panel's size, and the two status colours.
constexpr const char* panelStyle = R"(
.tolvar-panel .caption { font-size: 11px; }
.tolvar-panel .status { font-size: 11px; }
.tolvar-panel .status-error { color: #c01c28; }
.tolvar-panel entry { min-height: 20px; padding-top: 0; padding-bottom: 0; }
.tolvar-panel button { min-height: 18px; padding-top: 1px; padding-bottom: 1px; }
.tolvar-panel checkbutton { padding-top: 0; padding-bottom: 0; }
)";

// `text` as one paragraph: every run of white space, line and paragraph breaks included, becomes one
// space. Pango limits lines per paragraph, so a text with its own breaks would otherwise grow the
// status line (and the panel) by two lines for each of them.
std::string oneParagraph(const std::string& text) {
    static const auto breaks = Glib::Regex::create("[\\s\\x{85}\\x{2028}\\x{2029}]+", Glib::REGEX_OPTIMIZE);
    return breaks->replace(text.c_str(), -1, 0, " ", static_cast<Glib::RegexMatchFlags>(0));
}

class GtkQuickSavePanel final : public QuickSavePanel {
public:
    explicit GtkQuickSavePanel(QuickSavePanelDelegate& delegate) : delegate_(delegate) {
        window_.set_title("Save to Tolvar");
        window_.set_type_hint(Gdk::WINDOW_TYPE_HINT_UTILITY);
        window_.set_keep_above(true);
        window_.set_resizable(false);
        window_.set_default_size(panelWidth, panelHeight);
        window_.get_style_context()->add_class("tolvar-panel");
        auto css = Gtk::CssProvider::create();
        css->load_from_data(panelStyle);
        Gtk::StyleContext::add_provider_for_screen(Gdk::Screen::get_default(), css,
                                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

        urlField_.set_placeholder_text("https://…");
        titleField_.set_placeholder_text("Title");
        tagsField_.set_placeholder_text("tags, separated by commas");

        status_.get_style_context()->add_class("status");
        status_.signal_activate_link().connect([this](const Glib::ustring&) {
            followStatusLink();
            return true;
        }, false);
        status_.set_line_wrap(true);
        status_.set_line_wrap_mode(Pango::WRAP_WORD);
        status_.set_lines(2);
        status_.set_ellipsize(Pango::ELLIPSIZE_END);
        status_.set_max_width_chars(1);  // wrap to the panel's width instead of widening it
        status_.set_xalign(0);
        status_.set_halign(Gtk::ALIGN_FILL);

        buildLayout();
        saveButton_.signal_clicked().connect([this] { delegate_.panelSave(); });
        cancelButton_.signal_clicked().connect([this] { delegate_.panelCancel(); });
        window_.signal_key_press_event().connect(sigc::mem_fun(*this, &GtkQuickSavePanel::onKeyPress), false);
        window_.signal_focus_in_event().connect([this](GdkEventFocus*) {
            runFocusWork();
            return false;
        });
        window_.signal_delete_event().connect([this](GdkEventAny*) {
            window_.hide();
            return true;
        });
        if (auto app = Glib::RefPtr<Gtk::Application>::cast_dynamic(Gio::Application::get_default())) {
            app->add_window(window_);
        }
        // Its X window exists and its controls are laid out before the panel is first shown.
        window_.show_all_children();
        gtk_widget_realize(GTK_WIDGET(window_.gobj()));
    }

    std::string text(PanelField field) const override { return entry(field).get_text(); }
    void setText(PanelField field, const std::string& text) override {
        auto& target = entry(field);
        target.set_text(text);
        target.set_position(0);  // a long address or title shows its beginning
    }
    bool readLater() const override { return readLater_.get_active(); }
    void setReadLater(bool on) override { readLater_.set_active(on); }
    std::string status() const override { return statusText_; }

    void setStatus(const std::string& text, StatusColour colour) override {
        statusText_ = text;
        linkLabel_.clear();
        linkAction_ = nullptr;
        status_.set_text(Glib::ustring(text).validate() ? oneParagraph(text) : text);
        auto style = status_.get_style_context();
        if (colour == StatusColour::error) {
            style->remove_class("dim-label");
            style->add_class("status-error");
        } else {
            style->remove_class("status-error");
            style->add_class("dim-label");
        }
    }

    void setStatusLink(const std::string& label, std::function<void()> action) override {
        linkLabel_ = label;
        linkAction_ = std::move(action);
        const auto escaped = [](const std::string& text) {
            return std::string(Glib::Markup::escape_text(Glib::ustring(text).validate() ? oneParagraph(text) : ""));
        };
        status_.set_markup(escaped(statusText_) + " <a href=\"tolvar:status-link\">" + escaped(label) + "</a>");
    }
    std::string statusLink() const override { return linkLabel_; }
    void followStatusLink() override {
        // A copy: the action may set a new status, which drops the link's own.
        if (auto action = linkAction_) action();
    }

    void setSaveEnabled(bool enabled) override { saveButton_.set_sensitive(enabled); }

    void present(PanelField focus) override {
        window_.show_all();
        centre();
        window_.present(gtk::activationTime());
        entry(focus).grab_focus();
        // Focusing the window first selected all of its first field; the other fields show their
        // beginning with nothing selected.
        for (auto field : {PanelField::url, PanelField::title, PanelField::tags}) {
            if (field == focus) continue;
            entry(field).select_region(0, 0);
            entry(field).set_position(0);
        }
    }

    void hide() override { window_.hide(); }
    void focus(PanelField field) override { entry(field).grab_focus(); }

    void whenFocused(std::function<void()> work) override {
        focusWork_ = std::move(work);
        if (window_.has_toplevel_focus()) runFocusWork();
    }
    bool isVisible() const override { return window_.get_visible(); }
    bool isKey() const override { return window_.is_active(); }

    bool tagsFieldHasFocus() const override {
        return const_cast<Gtk::Window&>(window_).get_focus() == &tagsField_;
    }

    Size frameSize() const override {
        int width = 0;
        int height = 0;
        const_cast<Gtk::Window&>(window_).get_size(width, height);
        return {double(width), double(height)};
    }

    Rect contentLayoutRect() const override {
        return {0, 0, double(window_.get_allocated_width()), double(window_.get_allocated_height())};
    }

    std::vector<ControlFrame> controlFrames() const override {
        const std::pair<const char*, const Gtk::Widget*> controls[] = {
            {"page", &urlField_},         {"title", &titleField_},      {"tags", &tagsField_},
            {"status", &status_},         {"readLater", &readLater_},   {"cancel", &cancelButton_},
            {"save", &saveButton_}};
        std::vector<ControlFrame> frames;
        for (const auto& [name, widget] : controls) {
            int x = 0;
            int y = 0;
            const_cast<Gtk::Widget*>(widget)->translate_coordinates(const_cast<Gtk::Window&>(window_), 0, 0, x, y);
            frames.push_back({name, {double(x), double(y), double(widget->get_allocated_width()),
                                     double(widget->get_allocated_height())}});
        }
        return frames;
    }

    void pressKey(const std::string& character, std::uint16_t keyCode) override {
        GdkWindow* target = window_.get_window() ? window_.get_window()->gobj() : nullptr;
        if (target == nullptr) return;
        const guint keyval = keyvalFor(character, keyCode);
        GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(target));
        GdkDevice* keyboard = seat != nullptr ? gdk_seat_get_keyboard(seat) : nullptr;
        for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
            GdkEvent* event = gdk_event_new(type);
            event->key.window = GDK_WINDOW(g_object_ref(target));
            event->key.send_event = FALSE;
            event->key.time = GDK_CURRENT_TIME;
            event->key.keyval = keyval;
            event->key.string = g_strdup(character.c_str());
            event->key.length = gint(character.size());
            event->key.hardware_keycode = hardwareKeycode(keyval);
            if (keyboard != nullptr) gdk_event_set_device(event, keyboard);
            gtk_main_do_event(event);
            gdk_event_free(event);
        }
        // Text that no single key can produce (a multi-code-point character) goes in as typed text.
        if (keyval == GDK_KEY_VoidSymbol && !character.empty()) insertIntoFocusedField(character);
    }

    std::optional<std::string> snapshotPNG() const override {
        return gtk::drawWidgetPNG(const_cast<GtkWindow*>(window_.gobj()));
    }

private:
    void buildLayout() {
        form_.set_margin_start(20);
        form_.set_margin_end(20);
        form_.set_margin_top(16);
        form_.set_margin_bottom(16);
        const std::pair<Gtk::Label*, Gtk::Entry*> captions[] = {
            {&pageCaption_, &urlField_}, {&titleCaption_, &titleField_}, {&tagsCaption_, &tagsField_}};
        for (auto [caption, field] : captions) {
            caption->set_xalign(0);
            caption->get_style_context()->add_class("caption");
            caption->get_style_context()->add_class("dim-label");
            nameAfter(*caption, *field);
        }
        tagsField_.set_margin_bottom(6);  // 12 points before the status line
        spacer_.set_hexpand(true);
        buttonRow_.pack_start(readLater_, Gtk::PACK_SHRINK);
        buttonRow_.pack_start(spacer_, Gtk::PACK_EXPAND_WIDGET);
        buttonRow_.pack_start(cancelButton_, Gtk::PACK_SHRINK);
        buttonRow_.pack_start(saveButton_, Gtk::PACK_SHRINK);
        for (Gtk::Widget* widget : std::initializer_list<Gtk::Widget*>{
                 &pageCaption_, &urlField_, &titleCaption_, &titleField_, &tagsCaption_, &tagsField_, &status_,
                 &buttonRow_}) {
            form_.pack_start(*widget, Gtk::PACK_SHRINK);
        }
        window_.add(form_);
    }

    static AtkObject* accessibleOf(Gtk::Widget& widget) { return gtk_widget_get_accessible(widget.gobj()); }

    // The caption's mnemonic focuses the field and relates the two for assistive technologies;
    // the field's accessible name is the caption's text, which screen readers then read out.
    static void nameAfter(Gtk::Label& caption, Gtk::Entry& field) {
        caption.set_mnemonic_widget(field);
        atk_object_set_name(accessibleOf(field), caption.get_text().c_str());
    }

    bool onKeyPress(GdkEventKey* event) {
        switch (event->keyval) {
            case GDK_KEY_Return:
            case GDK_KEY_KP_Enter:
            case GDK_KEY_ISO_Enter: delegate_.panelSave(); return true;
            case GDK_KEY_Escape: delegate_.panelCancel(); return true;
            default: return false;
        }
    }

    static guint keyvalFor(const std::string& character, std::uint16_t keyCode) {
        if (keyCode == 36 || character == "\r") return GDK_KEY_Return;
        if (keyCode == 53 || character == "\x1b") return GDK_KEY_Escape;
        if (character == "\t") return GDK_KEY_Tab;  // moves the focus to the next control
        gunichar first = 0;
        const char* end = nullptr;
        if (!g_utf8_validate(character.c_str(), gssize(character.size()), &end)) return GDK_KEY_VoidSymbol;
        if (g_utf8_strlen(character.c_str(), gssize(character.size())) != 1) return GDK_KEY_VoidSymbol;
        first = g_utf8_get_char(character.c_str());
        return gdk_unicode_to_keyval(first);
    }

    static guint16 hardwareKeycode(guint keyval) {
        GdkKeymapKey* keys = nullptr;
        gint count = 0;
        guint16 code = 0;
        if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()), keyval, &keys,
                                              &count) &&
            count > 0) {
            code = guint16(keys[0].keycode);
        }
        g_free(keys);
        return code;
    }

    void insertIntoFocusedField(const std::string& text) {
        if (auto* editable = dynamic_cast<Gtk::Editable*>(window_.get_focus())) {
            int position = editable->get_position();
            editable->insert_text(text, int(text.size()), position);
            editable->set_position(position);
        }
    }

    void runFocusWork() {
        if (!focusWork_) return;
        Glib::signal_idle().connect_once(std::exchange(focusWork_, nullptr));
    }

    void centre() {
        auto display = window_.get_display();
        auto monitor = display->get_primary_monitor();
        if (!monitor && display->get_n_monitors() > 0) monitor = display->get_monitor(0);
        if (!monitor) return;
        Gdk::Rectangle area;
        monitor->get_workarea(area);
        const auto size = frameSize();
        window_.move(area.get_x() + (area.get_width() - int(size.width)) / 2,
                     area.get_y() + (area.get_height() - int(size.height)) / 2);
    }

    Gtk::Entry& entry(PanelField field) const {
        switch (field) {
            case PanelField::url: return const_cast<Gtk::Entry&>(urlField_);
            case PanelField::title: return const_cast<Gtk::Entry&>(titleField_);
            default: return const_cast<Gtk::Entry&>(tagsField_);
        }
    }

    QuickSavePanelDelegate& delegate_;
    Gtk::Window window_;
    Gtk::Box form_{Gtk::ORIENTATION_VERTICAL, 6};
    Gtk::Box buttonRow_{Gtk::ORIENTATION_HORIZONTAL, 10};
    Gtk::Label pageCaption_{"_Page", true};
    Gtk::Label titleCaption_{"_Title", true};
    Gtk::Label tagsCaption_{"Ta_gs", true};
    Gtk::Entry urlField_;
    Gtk::Entry titleField_;
    Gtk::Entry tagsField_;
    Gtk::Label& status_ = gtk::createLiveLabel();  // read out when it changes
    std::string statusText_;
    std::string linkLabel_;
    std::function<void()> linkAction_;
    Gtk::CheckButton readLater_{"Read later"};
    Gtk::Box spacer_;
    Gtk::Button cancelButton_{"Cancel"};
    Gtk::Button saveButton_{"Save"};
    std::function<void()> focusWork_;
};

}  // namespace

std::unique_ptr<QuickSavePanel> createQuickSavePanel(QuickSavePanelDelegate& delegate) {
    return std::make_unique<GtkQuickSavePanel>(delegate);
}

}  // namespace platform
