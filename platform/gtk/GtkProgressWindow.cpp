#include <gtkmm.h>

#include "platform/ProgressWindow.h"

namespace platform {
namespace {

constexpr unsigned pulseMilliseconds = 100;

class GtkProgressWindow : public ProgressWindow {
public:
    GtkProgressWindow(const std::string& title, std::function<void()> cancel) : cancel_(std::move(cancel)) {
        window_.set_title(title);
        window_.set_resizable(false);
        window_.set_default_size(380, -1);
        window_.set_position(Gtk::WIN_POS_CENTER);
        window_.set_border_width(18);
        heading_.set_xalign(0);
        bar_.set_show_text(true);
        buttons_.set_layout(Gtk::BUTTONBOX_END);
        buttons_.pack_start(cancelButton_);
        box_.pack_start(heading_, Gtk::PACK_SHRINK);
        box_.pack_start(bar_, Gtk::PACK_SHRINK);
        box_.pack_start(buttons_, Gtk::PACK_SHRINK);
        window_.add(box_);
        cancelButton_.signal_clicked().connect([this] { requestCancel(); });
        // Closing the window asks what Cancel asks; the window goes when the install has stopped.
        window_.signal_delete_event().connect([this](GdkEventAny*) {
            requestCancel();
            return true;
        });
        window_.show_all();
        window_.present();
    }

    ~GtkProgressWindow() override { pulse_.disconnect(); }

    void show(const ProgressContent& content) override {
        heading_.set_text(content.heading);
        bar_.set_text(content.barText);
        cancelButton_.set_sensitive(content.cancellable);
        if (content.fraction) {
            pulse_.disconnect();
            bar_.set_fraction(*content.fraction);
        } else if (!pulse_.connected()) {
            bar_.pulse();
            pulse_ = Glib::signal_timeout().connect(
                [this] {
                    bar_.pulse();
                    return true;
                },
                pulseMilliseconds);
        }
    }

    std::string barText() const override { return bar_.get_text(); }

    void clickCancel() override { cancelButton_.clicked(); }

private:
    void requestCancel() {
        if (cancelButton_.get_sensitive() && cancel_) cancel_();
    }

    std::function<void()> cancel_;
    Gtk::Window window_;
    Gtk::Box box_{Gtk::ORIENTATION_VERTICAL, 12};
    Gtk::Label heading_;
    Gtk::ProgressBar bar_;
    Gtk::ButtonBox buttons_;
    Gtk::Button cancelButton_{"Cancel"};
    sigc::connection pulse_;
};

}  // namespace

std::unique_ptr<ProgressWindow> createProgressWindow(const std::string& title, std::function<void()> cancel) {
    return std::make_unique<GtkProgressWindow>(title, std::move(cancel));
}

}  // namespace platform
