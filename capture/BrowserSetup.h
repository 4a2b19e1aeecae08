#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The state of page capture in each supported browser found on this machine, as Preferences'
// "Browsers" section shows it: whether the extension has reported, is installed but silent, or is
// missing, and what the user can do. Decides only: reads files, shows nothing.
namespace capture {

enum class ExtensionState {
    connected,  // the extension has reported to Tolvar
    installed,  // a route to install it is in place, but no report yet: start or restart the browser
    missing,    // neither
};

struct BrowserSetup {
    std::string key;   // a key of the browser table
    std::string name;  // the browser's name, as the user knows it
    ExtensionState state = ExtensionState::missing;
    double lastReport = 0;   // when the latest report arrived, milliseconds since 1970 (connected only)
    bool canSetUp = false;   // the per-user route can install it ("Set Up")
    std::string summary;     // one line for the user
};

// Where to look: the user's folders, the system's, and the folders of programs.
struct SetupFolders {
    std::filesystem::path home, configHome, runtimeDirectory;
    std::filesystem::path systemRoot = "/";
    std::vector<std::filesystem::path> programFolders;  // PATH
};
SetupFolders setupFoldersOfThisUser();

// Every browser of the table that is found here (one of its executables in a program folder), in
// the table's order. `formatTime` writes a report's time for the summary.
std::vector<BrowserSetup> browserSetups(const SetupFolders& folders, std::string (*formatTime)(double milliseconds));

const char* extensionStateName(ExtensionState state);

}  // namespace capture
