#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WebView.h"

// Whether the main window's page is loaded. A program that waits in the tray all day needs its
// page only while someone looks at the window or saves: after the window has been hidden for a
// while with nothing in flight, the page's web process is ended, and it is loaded again when the
// window is shown, the quick-save panel is presented or one of the panel's page scripts asks for it.
class PageSleep : public std::enable_shared_from_this<PageSleep> {
public:
    enum class Reason { backgroundStart, hidden, shown, quickSave };
    static std::string_view name(Reason reason);

    struct Actions {
        // Ends the page's process and forgets the page.
        std::function<void(Reason)> suspend;
        // Loads the page again; pageLoaded() or pageLoadFailed() follows.
        std::function<void(Reason)> wake;
    };

    // How long the window stays hidden, with nothing in flight, before the page sleeps.
    static constexpr double defaultDelaySeconds = 600;
    // The delay from the variable's value (seconds) when it is a positive number, otherwise the default.
    static constexpr std::string_view delayVariable = "TOLVAR_ENGINE_SLEEP_SECONDS";
    static double delayFrom(const std::optional<std::string>& value);

    PageSleep(Actions actions, double delaySeconds) : actions_(std::move(actions)), delaySeconds_(delaySeconds) {}

    // The page was never loaded: it stays asleep until something needs it.
    void startAsleep();
    void windowVisibilityChanged(bool visible);
    // The panel wants the page ready by the time the user has typed: it is loaded at once.
    void panelPresented();
    void downloadStarted();
    void downloadEnded();
    // The page finished loading, or failed to.
    void pageLoaded();
    void pageLoadFailed();

    // Work that needs the page loaded: run at once when it is, otherwise once its load ended
    // (`loaded` true, or false when it failed). Asking while asleep wakes the page. The page stays
    // awake until the work calls the `done` it was handed.
    using Work = std::function<void(bool loaded, std::function<void()> done)>;
    void whenLoaded(Work work);

    bool asleep() const { return state_ == State::asleep; }

private:
    enum class State { awake, asleep, waking };

    void wake(Reason reason);
    void run(Work work, bool loaded);
    void endWork();
    bool idle() const { return worksInFlight_ == 0 && downloads_ == 0 && waiting_.empty(); }
    // Arms the sleep timer anew when the window is hidden and nothing is in flight; every call
    // outdates the timer armed before (it finds its generation changed and does nothing).
    void reconsider();

    Actions actions_;
    double delaySeconds_;
    State state_ = State::awake;
    bool windowVisible_ = false;
    int worksInFlight_ = 0;
    int downloads_ = 0;
    std::vector<Work> waiting_;
    std::uint64_t timerGeneration_ = 0;
};

// The main web view as the quick-save panel sees it: its page scripts wait for a sleeping page to
// load (waking it) and fail as page scripts do when that load fails. Everything else goes straight
// to the view.
class WakingWebView final : public platform::WebView, public std::enable_shared_from_this<WakingWebView> {
public:
    WakingWebView(platform::WebView& view, std::shared_ptr<PageSleep> sleep) : view_(view), sleep_(std::move(sleep)) {}

    void callAsyncJavaScript(const std::string& body, const nlohmann::json& arguments, double timeLimitSeconds,
                             std::function<void(platform::ScriptResult)> done) override;

    void load(const std::string& url, double timeoutSeconds) override { view_.load(url, timeoutSeconds); }
    void reload() override { view_.reload(); }
    bool canGoBack() const override { return view_.canGoBack(); }
    bool canGoForward() const override { return view_.canGoForward(); }
    void goBack() override { view_.goBack(); }
    void goForward() override { view_.goForward(); }
    double zoom() const override { return view_.zoom(); }
    void setZoom(double factor) override { view_.setZoom(factor); }
    std::string currentURL() const override { return view_.currentURL(); }
    void snapshotPNG(std::function<void(std::optional<std::string>)> done) override { view_.snapshotPNG(std::move(done)); }
    void clickAt(double x, double y) override { view_.clickAt(x, y); }
    void setCookie(const platform::Cookie& cookie, std::function<void(bool)> done) override {
        view_.setCookie(cookie, std::move(done));
    }
    void showApplicationPage(const std::string& html, const std::string& forURL) override {
        view_.showApplicationPage(html, forURL);
    }
    void suspendPage() override { view_.suspendPage(); }

private:
    platform::WebView& view_;
    std::shared_ptr<PageSleep> sleep_;
};
