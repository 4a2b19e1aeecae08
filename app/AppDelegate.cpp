#include "app/AppDelegate.h"

#include "app/MainWindowCommands.h"
#include "app/MenuBar.h"
#include "app/NavigationPolicy.h"
#include "app/ServiceEndpoints.h"
#include "app/WindowFrame.h"
#include "automation/E2E.h"
#include "platform/Application.h"
#include "platform/Desktop.h"
#include "platform/Environment.h"
#include "platform/Url.h"
#include "update/UpdateCheck.h"

namespace {

constexpr double pageRequestTimeout = 60;
constexpr double mainSnapshotDelay = 3;

// Wraps a member function so that it does nothing once the delegate is gone.
std::function<void()> weakAction(const std::weak_ptr<AppDelegate>& owner, void (AppDelegate::*action)()) {
    return [owner, action] {
        if (auto self = owner.lock()) ((*self).*action)();
    };
}

}  // namespace

std::string startAddress() {
    auto override = platform::environmentValue(std::string(ServiceEndpoints::startURLVariable));
    if (override) return *override;
    return platform::buildURL("https", std::string(ServiceEndpoints::serviceHost),
                              std::string(ServiceEndpoints::appPath));
}

void AppDelegate::applicationDidFinishLaunching() {
    const auto weakSelf = weak_from_this();
    MenuBar::Actions actions{
        .newBookmark = weakAction(weakSelf, &AppDelegate::newBookmark),
        .saveClipboardURL = weakAction(weakSelf, &AppDelegate::saveClipboardURL),
        .reloadPage = weakAction(weakSelf, &AppDelegate::reloadPage),
        .goBack = weakAction(weakSelf, &AppDelegate::goBack),
        .goForward = weakAction(weakSelf, &AppDelegate::goForward),
        .zoomIn = weakAction(weakSelf, &AppDelegate::zoomIn),
        .zoomOut = weakAction(weakSelf, &AppDelegate::zoomOut),
        .zoomReset = weakAction(weakSelf, &AppDelegate::zoomReset),
    };
    const std::string version = UpdateCheck::currentVersion();
    platform::MainWindowOptions options{
        .contentRect = WindowFrame::contentRect(platform::mainScreenVisibleFrame()),
        .title = "Tolvar",
        .applicationVersion = version,
        .minimumSize = WindowFrame::minimumSize,
        .menus = MenuBar::build(actions),
        .userAgentApplicationName = "TolvarDesktop/" + version + " (Linux)",
        .ephemeralWebData = E2E::enabled(),
        .dataDirectory = platform::userDataDirectory("tolvar"),
    };
    window = platform::createMainWindow(options, *this);
    webView = &window->webView();

    loadStartAddress();
    window->present();
}

void AppDelegate::loadStartAddress() {
    const std::string address = startAddress();
    const auto parsed = platform::parseURL(address);
    if (!parsed) return;  // the window opens empty

    const auto session = E2E::enabled() ? platform::environmentValue("TOLVAR_E2E_SESSION") : std::nullopt;
    if (!session || !parsed->host) {
        webView->load(address, pageRequestTimeout);
        return;
    }
    // The automation session cookie must be in the store before the first request leaves. It is
    // marked secure for an https service; a stand-in served over plain http on loopback would
    // otherwise never receive it.
    platform::Cookie cookie{.name = std::string(ServiceEndpoints::cookieName),
                            .value = *session,
                            .domain = *parsed->host,
                            .path = "/",
                            .secure = parsed->scheme != "http"};
    webView->setCookie(cookie, [weakSelf = weak_from_this(), address](bool) {
        if (auto self = weakSelf.lock()) self->webView->load(address, pageRequestTimeout);
    });
}

void AppDelegate::applicationShouldHandleReopen() {
    if (window) window->present();
}

void AppDelegate::reloadPage() { webView->reload(); }

void AppDelegate::newBookmark() { webView->load(MainWindowCommands::newBookmarkURL(), pageRequestTimeout); }

void AppDelegate::saveClipboardURL() {
    if (auto target = MainWindowCommands::clipboardBookmarkURL(platform::clipboardText())) {
        webView->load(*target, pageRequestTimeout);
    }
}

void AppDelegate::goBack() {
    if (webView->canGoBack()) webView->goBack();
}

void AppDelegate::goForward() {
    if (webView->canGoForward()) webView->goForward();
}

void AppDelegate::zoomIn() { webView->setZoom(MainWindowCommands::zoomedIn(webView->zoom())); }

void AppDelegate::zoomOut() { webView->setZoom(MainWindowCommands::zoomedOut(webView->zoom())); }

void AppDelegate::zoomReset() { webView->setZoom(MainWindowCommands::actualSize); }

platform::NavigationDecision AppDelegate::decideNavigation(const platform::NavigationAction& action) {
    const auto answer = NavigationPolicy::decideNavigation(action);
    if (answer.openWithDefaultHandler) platform::openWithDefaultHandler(*action.url);
    return answer.decision;
}

platform::NavigationDecision AppDelegate::decideResponse(bool canShowContentType) {
    return NavigationPolicy::decideResponse(canShowContentType);
}

void AppDelegate::newWindowRequested(const platform::NavigationAction& action) {
    switch (NavigationPolicy::decideNewWindow(action)) {
        case NavigationPolicy::NewWindow::loadInMainView: webView->load(*action.url, pageRequestTimeout); break;
        case NavigationPolicy::NewWindow::openWithDefaultHandler: platform::openWithDefaultHandler(*action.url); break;
        case NavigationPolicy::NewWindow::ignore: break;
    }
}

void AppDelegate::loadFinished() {
    E2E::report("web-loaded", {{"url", webView->currentURL()}});
    if (E2E::enabled()) scheduleMainSnapshot();
}

// Each finished load leaves its own picture of the page a little later, when it has settled.
void AppDelegate::scheduleMainSnapshot() {
    platform::runAfter(mainSnapshotDelay, [weakSelf = weak_from_this()] {
        auto self = weakSelf.lock();
        if (!self) return;
        self->webView->snapshotPNG([weakSelf](std::optional<std::string> png) {
            auto self = weakSelf.lock();
            if (!self) return;
            if (!png) {
                E2E::report("main-snapshot", {{"ok", false}});
                return;
            }
            E2E::writeFile("main-window.png", *png);
            E2E::report("main-snapshot",
                        {{"ok", true}, {"file", "main-window.png"}, {"url", self->webView->currentURL()}});
        });
    });
}
