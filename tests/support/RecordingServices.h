#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Services.h"

// A recording stand-in for the controllers' services: timers wait until the test runs them; the main
// window, its web view and the panel remember what they were told; the clipboard, the front
// application and the environment answer what the test put in place; the settings and the login item
// are kept in memory and refuse every change while the test makes them unwritable; the network watch
// leaves its callback for the test to call. There is never a status item and the sandbox can always
// start. Alerts are recorded and closed at once; the other dialogs, the default browser, the portal
// and Preferences are left out: a controller that reaches one fails the test loudly.
namespace testsupport {

class FakeWebView : public platform::WebView {
public:
    // A script waits for the test's answer through `done`; past its time limit (a recorded timer)
    // it fails as timed out, and a later answer is ignored.
    struct Script {
        std::string body;
        nlohmann::json arguments;
        double timeLimit;
        std::function<void(platform::ScriptResult)> done;
    };
    std::string url;
    std::vector<std::string> loads;
    std::vector<Script> scripts;
    std::vector<std::pair<double, double>> clicks;
    std::vector<std::pair<std::string, std::string>> pages;  // html, the address it stands in for
    int suspensions = 0;

    void load(const std::string& address, double) override { loads.push_back(url = address); }
    void reload() override {}
    bool canGoBack() const override { return false; }
    bool canGoForward() const override { return false; }
    void goBack() override {}
    void goForward() override {}
    double zoom() const override { return 1; }
    void setZoom(double) override {}
    std::string currentURL() const override { return url; }
    void snapshotPNG(std::function<void(std::optional<std::string>)>) override {}
    void callAsyncJavaScript(const std::string& body, const nlohmann::json& arguments, double timeLimitSeconds,
                             std::function<void(platform::ScriptResult)> done) override;
    void clickAt(double x, double y) override { clicks.emplace_back(x, y); }
    void setCookie(const platform::Cookie&, std::function<void(bool)> done) override { done(true); }
    void showApplicationPage(const std::string& html, const std::string& forURL) override {
        pages.emplace_back(html, forURL);
    }
    void suspendPage() override {
        ++suspensions;
        url.clear();
    }
};

class FakeMainWindow : public platform::MainWindow {
public:
    explicit FakeMainWindow(platform::MainWindowOptions options) : options(std::move(options)) {}
    platform::MainWindowOptions options;
    FakeWebView view;
    int presented = 0;
    bool visible = false;
    std::map<std::string, std::string> menuTitles;

    platform::WebView& webView() override { return view; }
    void present() override {
        ++presented;
        if (!std::exchange(visible, true) && options.visibilityChanged) options.visibilityChanged(true);
    }
    bool isVisible() const override { return visible; }
    void hide() override {
        if (std::exchange(visible, false) && options.visibilityChanged) options.visibilityChanged(false);
    }
    void setMenuItemTitle(const std::string& key, const std::string& title) override { menuTitles[key] = title; }
    std::optional<std::string> snapshotPNG() const override { return std::nullopt; }
};

// Return saves and Escape cancels, as in the real panel; any other key is typed into the focused field.
class FakePanel : public platform::QuickSavePanel {
public:
    explicit FakePanel(platform::QuickSavePanelDelegate& delegate) : delegate_(delegate) {}
    std::map<platform::PanelField, std::string> texts;
    bool readLaterOn = false;
    std::string statusText;
    platform::StatusColour colour = platform::StatusColour::secondary;
    bool saveEnabled = true;
    bool visible = false;
    std::optional<platform::PanelField> focused;
    std::function<void()> onFocus;  // run by the test, as the desktop gives the panel the keyboard

    std::string text(platform::PanelField field) const override { return texts.contains(field) ? texts.at(field) : ""; }
    void setText(platform::PanelField field, const std::string& value) override { texts[field] = value; }
    bool readLater() const override { return readLaterOn; }
    void setReadLater(bool on) override { readLaterOn = on; }
    std::string status() const override { return statusText; }
    void setStatus(const std::string& value, platform::StatusColour shown) override {
        statusText = value, colour = shown, linkLabel.clear(), linkAction = nullptr;
    }
    std::string linkLabel;
    std::function<void()> linkAction;
    void setStatusLink(const std::string& label, std::function<void()> action) override {
        linkLabel = label, linkAction = std::move(action);
    }
    std::string statusLink() const override { return linkLabel; }
    void followStatusLink() override {
        if (linkAction) linkAction();
    }
    void setSaveEnabled(bool enabled) override { saveEnabled = enabled; }
    void present(platform::PanelField field) override { visible = true, focused = field; }
    void hide() override { visible = false; }
    void focus(platform::PanelField field) override { focused = field; }
    void whenFocused(std::function<void()> work) override { onFocus = std::move(work); }
    bool isVisible() const override { return visible; }
    bool isKey() const override { return visible; }
    bool tagsFieldHasFocus() const override { return focused == platform::PanelField::tags; }
    platform::Size frameSize() const override { return {520, 260}; }
    platform::Rect contentLayoutRect() const override { return {0, 0, 520, 260}; }
    std::vector<platform::ControlFrame> controlFrames() const override { return {}; }
    void pressKey(const std::string& character, std::uint16_t keyCode) override;
    std::optional<std::string> snapshotPNG() const override { return std::nullopt; }

private:
    platform::QuickSavePanelDelegate& delegate_;
};

class RecordingServices {
public:
    // What the desktop answers.
    std::optional<std::string> clipboard;
    std::optional<std::string> frontApplication;
    std::variant<platform::CapturedPage, int> capture = 2;
    std::map<std::string, std::string> settings;
    bool settingsWritable = true;
    bool startsAtLogin = false;
    bool loginItemWritable = true;
    std::map<std::string, std::string> environment;

    // What the controllers asked for.
    FakeMainWindow* window = nullptr;
    FakePanel* panel = nullptr;
    std::vector<std::string> requestedCaptures;
    std::vector<std::string> alerts;
    std::function<void(bool available)> networkChanged;  // the latest network watch's

    RecordingServices();
    ~RecordingServices();
    // Runs, in order, the timers due within `seconds`, and those they start within it.
    void runTimers(double seconds);

private:
    struct Timer {
        double seconds;
        std::function<void()> work;
        std::shared_ptr<platform::Timer::State> state;  // a one-shot timer's, which its handle may cancel
    };
    std::vector<Timer> timers_;
};

// The automation journal's events written since the last call, in this process's own folder
// (TOLVAR_E2E_DIR is set to it on the first call, before the journal is first used).
std::vector<nlohmann::json> newJournalEvents();

}  // namespace testsupport
