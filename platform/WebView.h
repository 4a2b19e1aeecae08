#pragma once

#include <functional>
#include <optional>
#include <string>

namespace platform {

enum class NavigationType { linkActivated, formSubmitted, backForward, reload, formResubmitted, other };

struct NavigationAction {
    std::optional<std::string> url;  // nothing when the request has no address
    NavigationType type = NavigationType::other;
    bool shouldDownload = false;
};

enum class NavigationDecision { cancel, allow, download };

// The program's answers to the web engine's questions about the main web view.
class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    virtual NavigationDecision decideNavigation(const NavigationAction& action) = 0;
    virtual NavigationDecision decideResponse(bool canShowContentType) = 0;
    // A page asked for a new window. The engine never gets one: the delegate loads the address in
    // the main web view or hands it elsewhere.
    virtual void newWindowRequested(const NavigationAction& action) = 0;
    virtual void loadFinished() = 0;
};

struct Cookie {
    std::string name;
    std::string value;
    std::string domain;
    std::string path = "/";
    bool secure = true;
};

class WebView {
public:
    virtual ~WebView() = default;

    // Loads an address. A load that has not received its response after `timeoutSeconds` is stopped.
    virtual void load(const std::string& url, double timeoutSeconds) = 0;
    virtual void reload() = 0;
    virtual bool canGoBack() const = 0;
    virtual bool canGoForward() const = 0;
    virtual void goBack() = 0;
    virtual void goForward() = 0;
    virtual double zoom() const = 0;
    virtual void setZoom(double factor) = 0;
    // The current address, or "" when there is none.
    virtual std::string currentURL() const = 0;

    // A PNG picture of the visible page; nothing when none could be taken. `done` runs on the main
    // loop, and not at all once the web view is gone.
    virtual void snapshotPNG(std::function<void(std::optional<std::string>)> done) = 0;
    // Plants a cookie in the web view's cookie store; `done` runs once the store confirmed it
    // (true) or refused it (false).
    virtual void setCookie(const Cookie& cookie, std::function<void(bool stored)> done) = 0;
};

}  // namespace platform
