#include <memory>

#include "app/AppDelegate.h"
#include "platform/Application.h"
#include "platform/Environment.h"
#include "quicksave/QuickSaveController.h"

int main(int argc, char** argv) {
    // WebKitGTK draws a blank page on some drivers and Wayland sessions with its DMA-BUF renderer;
    // the user's own setting wins.
    platform::setEnvironmentDefault("WEBKIT_DISABLE_DMABUF_RENDERER", "1");

    static auto delegate = std::make_shared<AppDelegate>();
    return platform::runApplication("app.tolvar.desktop", argc, argv,
                                    {.didFinishLaunching = [] { delegate->applicationDidFinishLaunching(); },
                                     .reopen = [] { delegate->applicationShouldHandleReopen(); },
                                     .quickSave = [] { QuickSaveController::shared().present(); }});
}
