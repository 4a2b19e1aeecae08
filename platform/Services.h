#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/DesktopIntegration.h"
#include "platform/GnomeKeybindings.h"
#include "platform/Geometry.h"
#include "platform/MainLoop.h"
#include "platform/MainWindow.h"
#include "platform/NetworkMonitor.h"
#include "platform/PageCapture.h"
#include "platform/PreferencesWindow.h"
#include "platform/QuickSavePanel.h"

// What the application's controllers (AppDelegate, QuickSaveController, Preferences) reach outside
// themselves: the desktop (windows, the panel, Preferences, dialogs, clipboard, hot key, status
// item, portal, the front application), the settings, the login item, the environment, the
// network's state and the main loop's timers. The program puts the real ones in place before the application starts; a test
// puts its own in place to drive a controller's decisions without a display and to see what it
// asked for.
namespace platform {

struct Services {
    // The main loop.
    std::function<void(double seconds, std::function<void()> work)> runAfter;
    std::function<Timer(double seconds, std::function<void()> work)> repeatEvery;
    std::function<Timer(double seconds, std::function<void()> work)> runOnceAfter;

    // Windows and the desktop.
    std::function<std::unique_ptr<MainWindow>(const MainWindowOptions&, WebViewDelegate&)> createMainWindow;
    std::function<std::unique_ptr<QuickSavePanel>(QuickSavePanelDelegate&)> createQuickSavePanel;
    std::function<std::unique_ptr<PreferencesWindow>(PreferencesActions)> createPreferencesWindow;
    std::function<std::optional<Rect>()> mainScreenVisibleFrame;
    std::function<std::string(const std::string& applicationName)> userDataDirectory;
    std::function<void()> followDesktopColourScheme;
    std::function<std::optional<std::string>()> webSandboxProblem;
    std::function<std::optional<std::string>()> clipboardText;
    std::function<void(const std::string& url)> openWithDefaultHandler;

    // Native panels and page dialogs, modal to the main window.
    std::function<void(MainWindow&, const FileInputRequest&,
                       std::function<void(std::optional<std::vector<std::filesystem::path>>)>)>
        runOpenFileChooser;
    std::function<void(MainWindow&, const std::string& suggestedName,
                       std::function<void(std::optional<std::filesystem::path>)>)>
        runSaveFileChooser;
    std::function<void(MainWindow&, const std::string& message, std::function<void()>)> runAlertDialog;
    std::function<void(MainWindow&, const std::string& message, std::function<void(bool)>)> runConfirmDialog;
    std::function<void(MainWindow&, const std::string& prompt, const std::optional<std::string>& defaultText,
                       std::function<void(std::optional<std::string>)>)>
        runTextInputDialog;

    // The quick-save shortcut, the status item and page capture.
    std::function<bool(const std::string& accelerator, std::function<void()> handler)> registerGlobalHotKey;
    std::function<void(const std::string& accelerator)> unregisterGlobalHotKey;
    std::function<bool()> isWaylandSession;
    std::function<void(const std::string& token)> noteActivationToken;
    std::function<std::unique_ptr<StatusItem>(const std::string& id, const std::string& tooltip,
                                              const std::vector<MenuItem>& menu)>
        installStatusItem;
    std::function<std::unique_ptr<PortalShortcut>(const PortalShortcutRequest&, PortalShortcutEvents)>
        bindPortalShortcut;
    // GNOME's own keyboard shortcuts, where the session is GNOME's.
    std::function<bool()> isGnomeSession;
    std::function<std::unique_ptr<GnomeKeybindings>(std::function<void()> changed)> openGnomeKeybindings;
    std::function<std::optional<std::string>()> frontmostApplicationId;
    std::function<std::variant<CapturedPage, int>(const std::string& requestText)> runCaptureRequest;

    // The user's settings (platform/Settings.h) and the login item. A change answers whether it was
    // made, so that a failure is said rather than shown as done.
    std::function<std::optional<std::string>(const std::string& key)> readSetting;
    std::function<bool(const std::string& key, const std::string& value)> writeSetting;
    std::function<bool()> startsAtLogin;
    std::function<bool(bool on)> setStartAtLogin;

    // The process's environment and the system's network connectivity (platform/NetworkMonitor.h).
    std::function<std::optional<std::string>(const std::string& name)> environmentValue;
    std::function<std::unique_ptr<NetworkWatch>(std::function<void(bool available)> changed)> watchNetwork;
};

// The services in place. Main thread only.
const Services& services();

// Puts `replacement` in place for every later call.
void setServices(Services replacement);

}  // namespace platform
