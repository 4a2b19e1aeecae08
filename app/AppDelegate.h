#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/LoadFailure.h"
#include "app/PageSleep.h"
#include "app/ServiceAddress.h"
#include "app/WebProcessRecovery.h"
#include "platform/MainLoop.h"
#include "platform/MainWindow.h"
#include "platform/NetworkMonitor.h"
#include "platform/WebView.h"

// The application's spine: builds the main window and its web view at launch, answers the menus
// and decides what the web view may load.
class AppDelegate final : public platform::WebViewDelegate, public std::enable_shared_from_this<AppDelegate> {
public:
    // The launch sequence, run once when the application is ready.
    void launch();
    // A second launch or the desktop's activate: the same main window comes back.
    void reopen();

    // Leaves the application's data, cache and config folders to the user alone and moves damaged
    // web data stores aside. Run at start and again at quit, for files the web engine made meanwhile.
    static void secureDataFolders();

    // Menu commands.
    void reloadPage();
    void newBookmark();
    void saveClipboardURL();
    void goBack();
    void goForward();
    void zoomIn();
    void zoomOut();
    void zoomReset();
    // Turns starting at login around; an alert says so when the login item could not be changed.
    void toggleStartAtLogin();

    // Web view delegate.
    platform::NavigationDecision decideNavigation(const platform::NavigationAction& action) override;
    platform::NavigationDecision decideResponse(const platform::NavigationResponse& response) override;
    void newWindowRequested(const platform::NavigationAction& action) override;
    void loadFinished() override;
    void loadFailed(const std::string& url, platform::LoadError error, const std::string& errorText) override;
    // Reloads the page, or shows why not when its process keeps ending.
    void webProcessEnded(const std::string& reason) override;
    // The automation session lived only in the ended network process: it is planted again.
    void networkProcessEnded() override;
    // Downloads, file inputs and page dialogs: answered at once in automation mode (no panel),
    // otherwise through native file choosers modal to the main window. Page dialogs are shown in both.
    void decideDownloadDestination(const std::string& suggestedFilename,
                                   platform::DownloadDestinationReply reply) override;
    void downloadStarted() override;
    void downloadFinished() override;
    void downloadFailed(const std::string& errorText) override;
    void runFileChooser(const platform::FileInputRequest& request, platform::FileInputReply reply) override;
    void runAlert(const std::string& message, std::function<void()> done) override;
    void runConfirm(const std::string& message, std::function<void(bool)> done) override;
    void runPrompt(const std::string& prompt, const std::optional<std::string>& defaultText,
                   std::function<void(std::optional<std::string>)> done) override;

    std::shared_ptr<platform::MainWindow> window;
    platform::WebView* webView = nullptr;  // owned by the window
    std::optional<platform::Timer> updateTimer;
    // Where the pages the application opens itself come from.
    ServiceAddress::Address service = ServiceAddress::defaultAddress();
    // Set before launch by "--background": the main window stays hidden until a later launch.
    bool launchesInBackground = false;

    // Set to "1" to show pages without the sandbox where it cannot start.
    static constexpr std::string_view sandboxOptOutVariable = "TOLVAR_DISABLE_WEB_SANDBOX";

private:
    // The first page: the start address, or why pages cannot be shown.
    void showFirstPage();
    void loadStartAddress();
    // The page's sleep while nobody needs it (AppDelegatePageSleep.cpp).
    void createPageSleep();
    void pageSuspended(PageSleep::Reason reason);
    void pageWoken(PageSleep::Reason reason);
    void registerWindowCommands();
    void watchLoadFailures();
    void scheduleMainSnapshot();
    void wireQuickSave();
    // Automation: the main-window verbs "go", "click" and "js".
    void registerCommands();
    void go(const std::string& address);
    void click(const std::string& selector);
    void runScript(const std::string& script);

    std::shared_ptr<PageSleep> pageSleep_;
    // The view the quick-save panel runs its page scripts in: they wait for a sleeping page.
    std::shared_ptr<WakingWebView> quickSaveView_;
    bool firstPageShown_ = false;
    // The service address shown when the page went to sleep, to come back to; "" for the start address.
    std::string resumeAddress_;
    std::unique_ptr<LoadFailure::Recovery> loadRecovery_;
    std::unique_ptr<platform::NetworkWatch> networkWatch_;
    // Web engine safety (AppDelegateWebSafety.cpp).
    // Whether pages run in the sandbox; when it cannot start, notes why in `sandboxProblem` unless
    // the user chose to run without it.
    bool decideSandbox();
    void showSandboxProblem();
    // Automation: plants TOLVAR_E2E_SESSION for the start address's host; false when there is none
    // or the store refused it.
    void plantSession(std::function<void(bool planted)> done);

    std::optional<std::string> sandboxProblem;  // pages are refused while set
    WebProcessRecovery webProcessRecovery;
};

// The address the main window opens first: TOLVAR_START_URL when set (even when empty), otherwise
// the service's web application.
std::string startAddress(const ServiceAddress::Address& service);
