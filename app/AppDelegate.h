#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/MainLoop.h"
#include "platform/MainWindow.h"
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

    // Web view delegate.
    platform::NavigationDecision decideNavigation(const platform::NavigationAction& action) override;
    platform::NavigationDecision decideResponse(bool canShowContentType) override;
    void newWindowRequested(const platform::NavigationAction& action) override;
    void loadFinished() override;

    std::unique_ptr<platform::MainWindow> window;
    platform::WebView* webView = nullptr;  // owned by the window
    std::optional<platform::Timer> updateTimer;

private:
    void loadStartAddress();
    void scheduleMainSnapshot();
};

// The address the main window opens first: TOLVAR_START_URL when set (even when empty), otherwise
// the service's web application.
std::string startAddress();
