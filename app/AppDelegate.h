#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/LoadFailure.h"
#include "app/ServiceAddress.h"
#include "platform/MainLoop.h"
#include "platform/MainWindow.h"
#include "platform/NetworkMonitor.h"
#include "platform/WebView.h"

// The application's spine: builds the main window and its web view at launch, answers the menus
// and decides what the web view may load.
class AppDelegate final : public platform::WebViewDelegate, public std::enable_shared_from_this<AppDelegate> {
public:
    void applicationDidFinishLaunching();
    // A second launch or the desktop's activate: the same main window comes back.
    void applicationShouldHandleReopen();

    // Menu commands.
    void reloadPage();
    void newBookmark();
    void saveClipboardURL();
    void goBack();
    void goForward();
    void zoomIn();
    void zoomOut();
    void zoomReset();

    // Automation: the main-window commands "go", "click" and "js". False for any other verb.
    bool e2eMainWindow(const std::string& verb, const std::string& argument);

    // Web view delegate.
    platform::NavigationDecision decideNavigation(const platform::NavigationAction& action) override;
    platform::NavigationDecision decideResponse(bool canShowContentType) override;
    void newWindowRequested(const platform::NavigationAction& action) override;
    void loadFinished() override;
    void loadFailed(const std::string& url, platform::LoadError error, const std::string& errorText) override;
    // Downloads, file inputs and page dialogs: answered at once in automation mode (no panel),
    // otherwise through native panels modal to the main window. Page dialogs are shown in both.
    void decideDownloadDestination(const std::string& suggestedFilename,
                                   platform::DownloadDestinationReply reply) override;
    void downloadFinished() override;
    void downloadFailed(const std::string& errorText) override;
    void runOpenPanel(const platform::FileInputRequest& request, platform::FileInputReply reply) override;
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

private:
    void loadStartAddress();
    void watchLoadFailures();
    void scheduleMainSnapshot();
    void wireQuickSave();
    void click(const std::string& selector);
    void runScript(const std::string& script);

    std::unique_ptr<LoadFailure::Recovery> loadRecovery_;
    std::unique_ptr<platform::NetworkWatch> networkWatch_;
};

// The address the main window opens first: TOLVAR_START_URL when set (even when empty), otherwise
// the service's web application.
std::string startAddress(const ServiceAddress::Address& service);
