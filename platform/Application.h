#pragma once

#include <functional>
#include <string>

namespace platform {

struct ApplicationHooks {
    std::function<void()> launch;     // once, when the application is ready
    std::function<void()> reopen;     // each later activation: a second launch, the desktop's activate
    std::function<void()> quickSave;  // a launch with "--quick-save"
};

// Runs the single-instance application with the given identifier until it quits. A second launch
// hands its activation (and a "--quick-save" request) to the running instance and exits.
int runApplication(const std::string& applicationId, int argc, char** argv, ApplicationHooks hooks);

// Data folder of this application under the user's XDG data directory.
std::string userDataDirectory(const std::string& applicationName);

}  // namespace platform
