#include "app/NavigationPolicy.h"

#include "core/ServiceEndpoints.h"
#include "core/Text.h"
#include "platform/Url.h"

namespace NavigationPolicy {
namespace {

using platform::NavigationDecision;

bool hasAboutScheme(const std::string& url) {
    auto parsed = platform::parseURL(url);
    return parsed && parsed->scheme == "about";
}

}  // namespace

std::string hostText(const std::string& url) {
    auto parsed = platform::parseURL(url);
    if (!parsed || !parsed->host) return "";
    return core::asciiLowercased(*parsed->host);
}

bool isInAppHost(const std::string& host, const std::string& serviceHost) {
    return ServiceEndpoints::isOnDomain(host, ServiceEndpoints::serviceDomain) || host == ServiceEndpoints::loopbackName ||
           host == "127.0.0.1" || (!host.empty() && host == serviceHost);
}

bool isSignInHost(const std::string& host) { return ServiceEndpoints::isOnDomain(host, ServiceEndpoints::signInHost); }

ActionDecision decideNavigation(const platform::NavigationAction& action, const std::string& serviceHost) {
    if (!action.url) return {NavigationDecision::cancel};
    if (action.shouldDownload) return {NavigationDecision::download};
    const std::string host = hostText(*action.url);
    const bool inApp = isInAppHost(host, serviceHost) || hasAboutScheme(*action.url);
    // Scripted navigations, redirects, form posts and history moves stay in the view: only a
    // link the user activated is sent to the browser.
    if (action.type != platform::NavigationType::linkActivated) return {NavigationDecision::allow};
    if (inApp || isSignInHost(host)) return {NavigationDecision::allow};
    return {NavigationDecision::cancel, true};
}

bool isAttachment(const std::string& contentDisposition) {
    // The disposition type is the token before the first parameter (RFC 6266), in any case.
    const std::string type = core::asciiLowercased(contentDisposition.substr(0, contentDisposition.find(';')));
    const auto first = type.find_first_not_of(" \t");
    if (first == std::string::npos) return false;
    return type.substr(first, type.find_last_not_of(" \t") - first + 1) == "attachment";
}

NavigationDecision decideResponse(const platform::NavigationResponse& response) {
    if (!response.canShowContentType || isAttachment(response.contentDisposition)) return NavigationDecision::download;
    return NavigationDecision::allow;
}

NewWindow decideNewWindow(const platform::NavigationAction& action, const std::string& serviceHost) {
    if (!action.url) return NewWindow::ignore;
    const std::string host = hostText(*action.url);
    if (isSignInHost(host) || isInAppHost(host, serviceHost)) return NewWindow::loadInMainView;
    return NewWindow::openWithDefaultHandler;
}

}  // namespace NavigationPolicy
