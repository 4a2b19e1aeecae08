#include "app/AppDelegate.h"

#include "app/MainWindowCommands.h"
#include "app/MenuBar.h"
#include "app/NavigationPolicy.h"
#include "app/ShellServices.h"
#include "app/StartAtLogin.h"
#include "core/ServiceEndpoints.h"
#include "app/WindowFrame.h"
#include "automation/Commands.h"
#include "automation/E2E.h"
#include "platform/Services.h"
#include "core/Text.h"
#include "platform/Url.h"
#include "quicksave/QuickSaveController.h"
#include "update/UpdateCheck.h"

namespace {

constexpr double pageRequestTimeout = 60;
constexpr double mainSnapshotDelay = 3;
constexpr std::size_t longestScriptResult = 2000;
// How long the automation's click and js commands wait for their page script.
constexpr double automationScriptLimit = 30;

// Scrolls the element a selector picks to the middle of the viewport and answers its centre.
constexpr const char* clickScript =
    "const e=document.querySelector(arg); if(!e) return null; e.scrollIntoView({block:'center'}); "
    "const r=e.getBoundingClientRect(); return [r.left+r.width/2, r.top+r.height/2];";

// Wraps a member function so that it does nothing once the delegate is gone.
std::function<void()> weakAction(const std::weak_ptr<AppDelegate>& owner, void (AppDelegate::*action)()) {
    return [owner, action] {
        if (auto self = owner.lock()) ((*self).*action)();
    };
}

}  // namespace

std::string startAddress(const ServiceAddress::Address& service) {
    auto override = platform::services().environmentValue(std::string(ServiceEndpoints::startURLVariable));
    if (override) return *override;
    return service.page(std::string(ServiceEndpoints::appPath));
}

void AppDelegate::launch() {
    // An update that an earlier run left half swapped is finished or undone before anything else.
    shellServices().finishInterruptedInstall();
    service = ServiceAddress::configured();
    shellServices().secureDataFolders();
    platform::services().followDesktopColourScheme();
    const auto weakSelf = weak_from_this();
    MenuBar::Actions actions{
        .quickSave = [] { QuickSaveController::shared().present(); },
        .checkForUpdates = [] { shellServices().checkForUpdates(true, false); },
        .preferences = [] { shellServices().showPreferences(); },
        .startsAtLogin = [] { return platform::services().startsAtLogin(); },
        .toggleStartAtLogin = weakAction(weakSelf, &AppDelegate::toggleStartAtLogin),
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
        .contentRect = WindowFrame::restoredRect(platform::services().readSetting(std::string(WindowFrame::settingKey)),
                                                 platform::services().mainScreenVisibleFrame()),
        .title = "Tolvar",
        .applicationVersion = version,
        .minimumSize = WindowFrame::minimumSize,
        .menus = MenuBar::build(actions),
        .userAgentApplicationName = "TolvarDesktop/" + version + " (Linux)",
        .ephemeralWebData = E2E::enabled(),
        .dataDirectory = platform::services().userDataDirectory("tolvar"),
        .sandboxWebContent = decideSandbox(),
        .frameChanged =
            [](const platform::Rect& frame) {
                platform::services().writeSetting(std::string(WindowFrame::settingKey),
                                                  WindowFrame::settingText(frame));
            },
        .visibilityChanged =
            [weakSelf](bool visible) {
                if (auto self = weakSelf.lock(); self && self->pageSleep_) self->pageSleep_->windowVisibilityChanged(visible);
            },
    };
    window = platform::services().createMainWindow(options, *this);
    webView = &window->webView();
    watchLoadFailures();

    createPageSleep();
    // In the background no page is loaded until the window or the quick-save panel needs it.
    if (launchesInBackground) {
        pageSleep_->startAsleep();
    } else {
        showFirstPage();
        window->present();
    }
    wireQuickSave();
    registerCommands();
    E2E::startCommandPump();

    shellServices().announceInstalledUpdate();
    // Update checks: once 6 seconds after launch, then hourly. In automation mode only a feed
    // override asks for them.
    if (!E2E::enabled() || platform::services().environmentValue(std::string(UpdateCheck::feedVariable))) {
        platform::services().runAfter(6, [] { shellServices().checkForUpdatesIfDue(true); });
        updateTimer = platform::services().repeatEvery(3600, [] { shellServices().checkForUpdatesIfDue(false); });
    }
}

void AppDelegate::wireQuickSave() {
    auto& quickSave = QuickSaveController::shared();
    quickSave.webView = quickSaveView_;
    quickSave.panelPresented = [weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock()) self->pageSleep_->panelPresented();
    };
    quickSave.showMainWindow = [weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock()) self->window->present();
    };
    quickSave.showQuickSaveMenuTitle = [weakSelf = weak_from_this()](const std::string& title) {
        if (auto self = weakSelf.lock()) self->window->setMenuItemTitle(std::string(MenuBar::quickSaveItemKey), title);
    };
    quickSave.showBrowserPreferences = [] { shellServices().showPreferences(); };
    quickSave.install();
}

// A page that cannot be loaded gives way to a page of our own, tried again by itself.
void AppDelegate::watchLoadFailures() {
    loadRecovery_ = std::make_unique<LoadFailure::Recovery>(*webView);
    networkWatch_ = platform::services().watchNetwork([weakSelf = weak_from_this()](bool available) {
        if (auto self = weakSelf.lock()) self->loadRecovery_->networkChanged(available);
    });
}

void AppDelegate::showFirstPage() {
    firstPageShown_ = true;
    if (sandboxProblem) showSandboxProblem();
    else loadStartAddress();
}

void AppDelegate::loadStartAddress() {
    const std::string address = startAddress(service);
    const auto parsed = platform::parseURL(address);
    if (!parsed) return;  // the window opens empty

    const auto session = E2E::enabled() ? platform::services().environmentValue("TOLVAR_E2E_SESSION") : std::nullopt;
    if (!session || !parsed->host) {
        webView->load(address, pageRequestTimeout);
        return;
    }
    // The automation session cookie must be in the store before the first request leaves.
    plantSession([weakSelf = weak_from_this(), address](bool) {
        if (auto self = weakSelf.lock()) self->webView->load(address, pageRequestTimeout);
    });
}

void AppDelegate::plantSession(std::function<void(bool planted)> done) {
    const auto session = E2E::enabled() ? platform::services().environmentValue("TOLVAR_E2E_SESSION") : std::nullopt;
    const auto parsed = platform::parseURL(startAddress(service));
    if (!session || !parsed || !parsed->host) return done(false);
    // Marked secure for an https service; a stand-in served over plain http on loopback would
    // otherwise never receive it.
    platform::Cookie cookie{.name = std::string(ServiceEndpoints::cookieName),
                            .value = *session,
                            .domain = *parsed->host,
                            .path = "/",
                            .secure = parsed->scheme != "http"};
    webView->setCookie(cookie, std::move(done));
}

void AppDelegate::reopen() {
    if (window) window->present();
}

void AppDelegate::reloadPage() { webView->reload(); }

void AppDelegate::newBookmark() { webView->load(MainWindowCommands::newBookmarkURL(service), pageRequestTimeout); }

void AppDelegate::saveClipboardURL() {
    if (auto target = MainWindowCommands::clipboardBookmarkURL(platform::services().clipboardText(), service)) {
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

void AppDelegate::toggleStartAtLogin() {
    // The item's check mark is read from the login item each time the menu opens, so it follows
    // what really happened.
    const std::string failure = StartAtLogin::change(!platform::services().startsAtLogin());
    if (!failure.empty()) platform::services().runAlertDialog(*window, failure, [] {});
}

platform::NavigationDecision AppDelegate::decideNavigation(const platform::NavigationAction& action) {
    if (sandboxProblem) return platform::NavigationDecision::cancel;
    const auto answer = NavigationPolicy::decideNavigation(action, service.host);
    if (answer.openWithDefaultHandler) platform::services().openWithDefaultHandler(*action.url);
    return answer.decision;
}

platform::NavigationDecision AppDelegate::decideResponse(const platform::NavigationResponse& response) {
    return NavigationPolicy::decideResponse(response);
}

void AppDelegate::newWindowRequested(const platform::NavigationAction& action) {
    switch (NavigationPolicy::decideNewWindow(action, service.host)) {
        case NavigationPolicy::NewWindow::loadInMainView: webView->load(*action.url, pageRequestTimeout); break;
        case NavigationPolicy::NewWindow::openWithDefaultHandler:
            platform::services().openWithDefaultHandler(*action.url);
            break;
        case NavigationPolicy::NewWindow::ignore: break;
    }
}

void AppDelegate::loadFinished() {
    loadRecovery_->loadSucceeded();
    pageSleep_->pageLoaded();
    E2E::report("web-loaded", {{"url", webView->currentURL()}});
    if (E2E::enabled()) scheduleMainSnapshot();
}

void AppDelegate::loadFailed(const std::string& url, platform::LoadError error, const std::string& errorText) {
    if (LoadFailure::showsPage(error)) {
        E2E::report("web-load-failed", {{"url", url}, {"error", errorText}});
        pageSleep_->pageLoadFailed();
    }
    loadRecovery_->loadFailed(url, error, errorText);
}

// Each finished load leaves its own picture of the page a little later, when it has settled.
void AppDelegate::scheduleMainSnapshot() {
    platform::services().runAfter(mainSnapshotDelay, [weakSelf = weak_from_this()] {
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

void AppDelegate::registerCommands() {
    auto& commands = E2E::commands();
    const auto weakSelf = weak_from_this();
    commands.add("go", [weakSelf](const std::string& address) {
        if (auto self = weakSelf.lock()) self->go(address);
    });
    commands.add("click", [weakSelf](const std::string& selector) {
        if (auto self = weakSelf.lock()) self->click(selector);
    });
    commands.add("js", [weakSelf](const std::string& script) {
        if (auto self = weakSelf.lock()) self->runScript(script);
    });
    registerWindowCommands();
}

void AppDelegate::go(const std::string& address) {
    if (auto resolved = platform::resolveURL(webView->currentURL(), address)) {
        webView->load(*resolved, pageRequestTimeout);
    }
}

void AppDelegate::click(const std::string& selector) {
    webView->callAsyncJavaScript(
        clickScript, {{"arg", selector}}, automationScriptLimit,
        [weakSelf = weak_from_this(), selector](platform::ScriptResult result) {
            auto self = weakSelf.lock();
            const auto& point = result.value;
            const bool twoNumbers = result.succeeded && point.is_array() && point.size() == 2 &&
                                    point[0].is_number() && point[1].is_number();
            if (!self || !twoNumbers) {
                E2E::report("click-failed", {{"selector", selector}});
                return;
            }
            self->webView->clickAt(point[0].get<double>(), point[1].get<double>());
            E2E::report("clicked", {{"selector", selector}});
        });
}

void AppDelegate::runScript(const std::string& script) {
    webView->callAsyncJavaScript(
        script, nlohmann::json::object(), automationScriptLimit, [](platform::ScriptResult result) {
            std::string text;
            if (!result.succeeded) text = "ERROR " + result.error;
            else if (result.value.is_null()) text = "null";
            else if (result.value.is_string()) text = result.value.get<std::string>();
            else text = result.value.dump();
            E2E::report("js-result", {{"result", core::leadingCharacters(text, longestScriptResult)}});
        });
}
