#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/Preferences.h"
#include "app/ProcessServices.h"
#include "bundle/Description.h"
#include "capture/BrowserHelpers.h"
#include "core/ApplicationId.h"
#include "install/Installer.h"
#include "install/Layout.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "core/Environment.h"
#include "platform/GnomeKeybindings.h"
#include "platform/WebSandbox.h"
#include "quicksave/GnomeShortcut.h"
#include "quicksave/QuickSaveController.h"
#include "update/UpdateCheck.h"

namespace {

int installRunningBundle() {
    // Past a file-size limit a write fails like one on a full disk, and is reported as one, instead
    // of ending the process half way.
    std::signal(SIGXFSZ, SIG_IGN);
    const auto bundle = platform::runningBundleDir();
    if (!bundle) {
        std::cerr << "tolvar: cannot install: not running from a Tolvar.app bundle\n";
        return 1;
    }
    return install::installForUser(*bundle, std::cout, std::cerr);
}

// The installation goes, and with it quick save's entry in GNOME's keyboard shortcuts, whether it
// runs the installed copy or this one.
int uninstall(bool purge) {
    const int status = install::uninstallForUser(purge, std::cout, std::cerr);
    const auto keybindings = platform::openGnomeKeybindings();
    const auto folders = install::userFolders();
    if (!keybindings || !folders) return status;
    const auto installed = install::perUserLayout(*folders).bundle / "bin" / "tolvar";
    const std::vector<std::string> commands{GnomeShortcut::command(installed.string()),
                                            GnomeShortcut::commandOfRunningBundle()};
    if (GnomeShortcut::removeEntries(*keybindings, commands)) return status;
    std::cerr << "tolvar: could not remove the quick-save entry from GNOME's keyboard shortcuts\n";
    return 1;
}

std::string runningVersion() {
    const auto running = platform::runningBundleDir();
    const auto info = running ? bundle::readInfo(*running) : std::nullopt;
    return info && !info->version.empty() ? info->version : "unknown";
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = CommandLine::parse(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (const auto* error = std::get_if<CommandLine::Error>(&parsed)) {
        std::cerr << error->text << "\n" << CommandLine::helpHint << "\n";
        return 2;
    }
    // Everything but starting the application is done here, before any toolkit or display.
    const auto options = std::get<CommandLine::Options>(parsed);
    switch (options.command) {
        case CommandLine::Command::help: std::cout << CommandLine::helpText(); return 0;
        case CommandLine::Command::version: std::cout << "Tolvar " << runningVersion() << "\n"; return 0;
        case CommandLine::Command::install: return installRunningBundle();
        case CommandLine::Command::uninstall: return uninstall(options.purge);
        case CommandLine::Command::installBrowserHelpers:
            return capture::installBrowserHelpersOfRunningBundle(std::cout, std::cerr);
        default: break;
    }

    // WebKitGTK draws a blank page on some drivers and Wayland sessions with its DMA-BUF renderer;
    // the user's own setting wins.
    core::setEnvironmentDefault("WEBKIT_DISABLE_DMABUF_RENDERER", "1");
    // The sandbox's trial run, which the first page waits for, runs while the toolkit starts.
    platform::startWebSandboxProbe();
    platform::setServices(processServices());
    setShellServices(shellProcessServices());
    UpdateFlow::setFlowServices(updateFlowProcessServices());
    capture::refreshBrowserHelpersOfRunningBundle();
    UpdateCheck::registerAutomationCommands();
    Preferences::registerAutomationCommands();

    static auto delegate = std::make_shared<AppDelegate>();
    delegate->launchesInBackground = options.command == CommandLine::Command::background;
    const int status =
        platform::runApplication(std::string(core::applicationId), argc, argv,
                                 {.launch = [] { delegate->launch(); },
                                  .reopen = [] { delegate->reopen(); },
                                  .quickSave = [] { QuickSaveController::shared().present(); }});
    UpdateCheck::stopInstalls();
    AppDelegate::secureDataFolders();
    return status;
}
