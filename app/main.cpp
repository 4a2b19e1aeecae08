#include <iostream>
#include <memory>
#include <string_view>

#include "app/AppDelegate.h"
#include "platform/Application.h"
#include "platform/Environment.h"
#include "platform/capture/BrowserHelpers.h"
#include "quicksave/QuickSaveController.h"

int main(int argc, char** argv) {
    // Installing the browsers' native-messaging manifests needs no window: done before the
    // application starts, and the process ends with it.
    if (argc == 2 && std::string_view(argv[1]) == "--install-browser-helpers") {
        return capture::installBrowserHelpersOfRunningBundle(std::cout, std::cerr);
    }

    // WebKitGTK draws a blank page on some drivers and Wayland sessions with its DMA-BUF renderer;
    // the user's own setting wins.
    platform::setEnvironmentDefault("WEBKIT_DISABLE_DMABUF_RENDERER", "1");

    static auto delegate = std::make_shared<AppDelegate>();
    const int status =
        platform::runApplication("app.tolvar.desktop", argc, argv,
                                 {.didFinishLaunching = [] { delegate->applicationDidFinishLaunching(); },
                                  .reopen = [] { delegate->applicationShouldHandleReopen(); },
                                  .quickSave = [] { QuickSaveController::shared().present(); }});
    AppDelegate::secureDataFolders();
    return status;
}
