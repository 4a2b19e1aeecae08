#include <gtest/gtest.h>

#include "app/NavigationPolicy.h"

namespace {

using platform::NavigationAction;
using platform::NavigationDecision;
using platform::NavigationType;
using Decision = NavigationPolicy::ActionDecision;

NavigationAction link(std::string url) { return {std::move(url), NavigationType::linkActivated, false}; }

TEST(NavigationPolicy, HostClasses) {
    EXPECT_EQ(NavigationPolicy::hostText("https://WEB.Tolvar.APP:8443/app"), "web.tolvar.app");
    EXPECT_EQ(NavigationPolicy::hostText("mailto:someone@example.com"), "");
    // The host of a configured service address (the second) counts as in-app too, and only that host.
    const std::tuple<const char*, const char*, bool> inApp[] = {
        {"tolvar.app", "", true},         {"a.b.tolvar.app", "", true},        {"localhost", "", true},
        {"127.0.0.1", "", true},          {"eviltolvar.app", "", false},       {"tolvar.app.evil.com", "", false},
        {"", "", false},                  {"127.0.0.2", "", false},            {"localhost.evil.com", "", false},
        {"tolvar.example.org", "tolvar.example.org", true}, {"other.example.org", "tolvar.example.org", false},
    };
    for (const auto& [host, service, expected] : inApp) {
        EXPECT_EQ(NavigationPolicy::isInAppHost(host, service), expected) << host << " " << service;
    }
    EXPECT_EQ(NavigationPolicy::decideNewWindow(link("https://Tolvar.Example.org/app"), "tolvar.example.org"),
              NavigationPolicy::NewWindow::loadInMainView);
    EXPECT_EQ(NavigationPolicy::decideNavigation(link("https://tolvar.example.org/x"), "tolvar.example.org"),
              Decision{platform::NavigationDecision::allow});
    for (const char* host : {"accounts.google.com", "eu.accounts.google.com", "evilaccounts.google.com"}) {
        EXPECT_EQ(NavigationPolicy::isSignInHost(host), !std::string_view(host).starts_with("evil")) << host;
    }
}

// What the main view does with a navigation, and with a request for a new window to the same place.
TEST(NavigationPolicy, NavigationActionsAndNewWindows) {
    using NavigationPolicy::NewWindow;
    const Decision allow{NavigationDecision::allow};
    const Decision toBrowser{NavigationDecision::cancel, true};
    const NewWindow inView = NewWindow::loadInMainView;
    const NewWindow browser = NewWindow::openWithDefaultHandler;
    const std::tuple<NavigationAction, Decision, NewWindow> cases[] = {
        {{std::nullopt, NavigationType::linkActivated, false}, {NavigationDecision::cancel}, NewWindow::ignore},
        {{"https://example.com/file.zip", NavigationType::linkActivated, true}, {NavigationDecision::download}, browser},
        {link("https://web.tolvar.app/app/x"), allow, inView},
        {link("https://WEB.TOLVAR.APP/app"), allow, inView},
        {link("http://127.0.0.1:41234/app"), allow, inView},
        {link("http://localhost:3000/"), allow, inView},
        {link("https://accounts.google.com/o/oauth2"), allow, inView},
        {link("about:blank"), allow, browser},  // a new window has no "about" exemption
        {link("https://example.com/"), toBrowser, browser},
        {link("https://eviltolvar.app/"), toBrowser, browser},
        {link("mailto:someone@example.com"), toBrowser, browser},
        {link("ABOUT:blank"), toBrowser, browser},  // the "about" exemption compares the scheme as written
        // Anything but a link activation stays in the view, wherever it goes.
        {{"https://example.com/", NavigationType::other, false}, allow, browser},
        {{"https://example.com/", NavigationType::formSubmitted, false}, allow, browser},
    };
    for (const auto& [action, navigation, newWindow] : cases) {
        EXPECT_EQ(NavigationPolicy::decideNavigation(action), navigation) << action.url.value_or("(none)");
        EXPECT_EQ(NavigationPolicy::decideNewWindow(action), newWindow) << action.url.value_or("(none)");
    }
}

TEST(NavigationPolicy, ResponsesLoadUnlessMarkedAsAttachments) {
    // A response the view can show loads unless it is marked as an attachment, whatever its type.
    const struct {
        platform::NavigationResponse response;
        NavigationDecision expected;
    } responses[] = {
        {{true, ""}, NavigationDecision::allow},
        {{false, ""}, NavigationDecision::download},
        {{true, "inline"}, NavigationDecision::allow},
        {{true, "inline; filename=\"report.pdf\""}, NavigationDecision::allow},
        {{true, "attachment"}, NavigationDecision::download},
        {{true, "  Attachment ;filename=a.html"}, NavigationDecision::download},
        {{true, "attachments; filename=x"}, NavigationDecision::allow},
        {{true, "filename=\"attachment\""}, NavigationDecision::allow},
        {{false, "inline"}, NavigationDecision::download},
    };
    for (const auto& c : responses) {
        EXPECT_EQ(NavigationPolicy::decideResponse(c.response), c.expected)
            << c.response.canShowContentType << " " << c.response.contentDisposition;
    }
}

}  // namespace
