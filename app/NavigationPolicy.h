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

platform::NavigationDecision decideResponse(bool canShowContentType);

enum class NewWindow { ignore, loadInMainView, openWithDefaultHandler };

NewWindow decideNewWindow(const platform::NavigationAction& action, const std::string& serviceHost = "");

}  // namespace NavigationPolicy
