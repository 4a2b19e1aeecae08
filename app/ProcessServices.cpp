#include "app/ProcessServices.h"

#include "app/AppDelegate.h"
#include "app/Preferences.h"
#include "capture/FrontPage.h"
#include "core/Environment.h"
#include "install/Installer.h"
#include "platform/Application.h"
#include "platform/Desktop.h"
#include "platform/ModalAlert.h"
#include "platform/NetworkMonitor.h"
#include "platform/PageCapture.h"
#include "platform/Settings.h"
#include "platform/SystemLog.h"
#include "platform/WebSandbox.h"
#include "update/SelfUpdate.h"
#include "update/UpdateCheck.h"

platform::Services processServices() {
    return platform::Services{
        .runAfter = platform::runAfter,
        .repeatEvery = platform::repeatEvery,
        .runOnceAfter = platform::runOnceAfter,
        .createMainWindow = platform::createMainWindow,
        .createQuickSavePanel = platform::createQuickSavePanel,
        .createPreferencesWindow = platform::createPreferencesWindow,
        .mainScreenVisibleFrame = platform::mainScreenVisibleFrame,
        .userDataDirectory = platform::userDataDirectory,
        .followDesktopColourScheme = platform::followDesktopColourScheme,
        .webSandboxProblem = platform::webSandboxProblem,
        .clipboardText = platform::clipboardText,
        .openWithDefaultHandler = platform::openWithDefaultHandler,
        .runOpenFileChooser = platform::runOpenFileChooser,
        .runSaveFileChooser = platform::runSaveFileChooser,
        .runAlertDialog = platform::runAlertDialog,
        .runConfirmDialog = platform::runConfirmDialog,
        .runTextInputDialog = platform::runTextInputDialog,
        .registerGlobalHotKey = platform::registerGlobalHotKey,
        .unregisterGlobalHotKey = platform::unregisterGlobalHotKey,
        .isWaylandSession = platform::isWaylandSession,
        .noteActivationToken = platform::noteActivationToken,
        .installStatusItem = platform::installStatusItem,
        .bindPortalShortcut = platform::bindPortalShortcut,
        .isGnomeSession = platform::isGnomeSession,
        .openGnomeKeybindings = platform::openGnomeKeybindings,
        // Capture's rules decide from what the window system tells of the active window.
        .frontmostApplicationId = [] { return capture::frontApplicationId(platform::activeWindow()); },
        .runCaptureRequest =
            [](const std::string& request) { return capture::captureFrontPage(request, platform::activeWindow()); },
        .readSetting = platform::readSetting,
        .writeSetting = platform::writeSetting,
        .startsAtLogin = install::startsAtLogin,
        .setStartAtLogin = install::setStartAtLogin,
        .environmentValue = core::environmentValue,
        .watchNetwork = platform::watchNetwork,
    };
}

ShellServices shellProcessServices() {
    return ShellServices{
        .secureDataFolders = AppDelegate::secureDataFolders,
        .finishInterruptedInstall = [] { SelfUpdate::finishInterruptedInstall(); },
        .checkForUpdates = UpdateCheck::run,
        .checkForUpdatesIfDue = UpdateCheck::runIfDue,
        .announceInstalledUpdate = UpdateCheck::announceInstalledUpdate,
        .showPreferences = Preferences::show,
    };
}

UpdateFlow::FlowServices updateFlowProcessServices() {
    return UpdateFlow::FlowServices{
        .now = [] { return UpdateRules::Clock::now(); },
        .readSetting = platform::readSetting,
        .writeSetting = platform::writeSetting,
        .fetch = platform::httpGet,
        .canInstallInPlace = [] { return SelfUpdate::canInstallInPlace(); },
        .install = SelfUpdate::install,
        .relaunch = [] { SelfUpdate::relaunch(); },
        .openURL = platform::openWithDefaultHandler,
        .systemLog = platform::systemLog,
        .alert = platform::runModalAlert,
        .progressWindow = platform::createProgressWindow,
        .notify = platform::sendNotification,
    };
}
