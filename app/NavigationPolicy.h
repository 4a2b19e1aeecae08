#pragma once

#include <string>

#include "platform/WebView.h"

// Which addresses the main web view may show, and what becomes of the others.
namespace NavigationPolicy {

// The lower-cased host of an address, or "" when it has none.
std::string hostText(const std::string& url);

// The service domain or any subdomain of it, the loopback name, 127.0.0.1, or the host of the
// configured service address (lower case; "" when none is configured).
bool isInAppHost(const std::string& host, const std::string& serviceHost = "");
// The identity provider's sign-in host or a subdomain of it.
bool isSignInHost(const std::string& host);

struct ActionDecision {
    platform::NavigationDecision decision;
    bool openWithDefaultHandler = false;  // hand the address to the user's browser or mail program
    bool operator==(const ActionDecision&) const = default;
};

ActionDecision decideNavigation(const platform::NavigationAction& action, const std::string& serviceHost = "");

// Whether a Content-Disposition value asks for the response to be saved rather than shown.
bool isAttachment(const std::string& contentDisposition);

// A response is shown when the web view can show its type and it is not marked as an attachment;
// otherwise it becomes a download.
platform::NavigationDecision decideResponse(const platform::NavigationResponse& response);

enum class NewWindow { ignore, loadInMainView, openWithDefaultHandler };

NewWindow decideNewWindow(const platform::NavigationAction& action, const std::string& serviceHost = "");

}  // namespace NavigationPolicy
