#pragma once

#include <functional>

// The application's own entry points that the shell (AppDelegate) calls at launch and from its
// menus: the data folders' safety, the updater and the Preferences window. The program puts the
// real ones in place before the application starts (app/ProcessServices.cpp); a test puts its own
// in place to see what the shell asked for.
struct ShellServices {
    // Leaves the application's folders to the user alone and moves damaged web data stores aside.
    std::function<void()> secureDataFolders;
    // The updater: an install left half done by an earlier run, and the checks (manual or not, at
    // launch or not).
    std::function<void()> finishInterruptedInstall;
    std::function<void(bool manual, bool atLaunch)> checkForUpdates;
    std::function<void(bool atLaunch)> checkForUpdatesIfDue;
    std::function<void()> announceInstalledUpdate;
    // The Preferences window.
    std::function<void()> showPreferences;
};

// The entry points in place. Main thread only.
const ShellServices& shellServices();

// Puts `replacement` in place for every later call.
void setShellServices(ShellServices replacement);
