#include "app/ProcessServices.h"

#include "app/Preferences.h"
#include "install/Installer.h"
#include "platform/Application.h"
#include "platform/Desktop.h"
#include "platform/Settings.h"
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
        .frontmostApplicationId = platform::frontmostApplicationId,
        .runCaptureRequest = platform::runCaptureRequest,
        .readSetting = platform::readSetting,
        .writeSetting = platform::writeSetting,
        .startsAtLogin = install::startsAtLogin,
        .setStartAtLogin = install::setStartAtLogin,
        .finishInterruptedInstall = [] { SelfUpdate::finishInterruptedInstall(); },
        .checkForUpdates = UpdateCheck::run,
        .checkForUpdatesIfDue = UpdateCheck::runIfDue,
        .announceInstalledUpdate = UpdateCheck::announceInstalledUpdate,
        .showPreferences = Preferences::show,
    };
}
