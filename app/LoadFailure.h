#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/MainLoop.h"
#include "platform/WebView.h"

// What the main window does when a page cannot be loaded: it shows a page of its own that says what
// failed, and tries again by itself when the network may be back.
namespace LoadFailure {

// Whether the failure replaces the page with the application's own failure page. A cancelled load
// or one that became a download is no failure to show.
bool showsPage(platform::LoadError error);
// Whether the load is tried again without the user asking. A rejected certificate never is.
bool retriesByItself(platform::LoadError error);
// The pause before the automatic attempt number `attempt` (1 for the first): 2 seconds, doubling up to
// 5 minutes.
double retryPause(int attempt);

struct PageText {
    std::string heading;
    std::string message;  // one paragraph a line
    std::string button;
};
PageText pageText(platform::LoadError error, const std::string& url, const std::string& errorText);

// The page and the retries for the main web view, which must outlive it.
class Recovery {
public:
    explicit Recovery(platform::WebView& webView) : webView_(webView) {}

    void loadFailed(const std::string& url, platform::LoadError error, const std::string& errorText);
    void loadSucceeded();
    // The system reports a change of network: when one is available, a waiting retry runs now.
    void networkChanged(bool available);

private:
    void retryNow();

    platform::WebView& webView_;
    std::optional<std::string> retryURL_;  // the address being tried again, while it fails
    int attempts_ = 0;
    platform::Timer retryTimer_;
};

}  // namespace LoadFailure
