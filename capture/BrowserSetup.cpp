#include "capture/BrowserSetup.h"

#include <unistd.h>

#include <cstdlib>

#include "capture/BrowserCapture.h"
#include "capture/CaptureRules.h"
#include "capture/ExtensionRoutes.h"
#include "capture/ReportStore.h"
#include "core/Browsers.h"

namespace capture {
namespace fs = std::filesystem;

namespace {

bool isPresent(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

bool found(const core::Browser& browser, const SetupFolders& folders) {
    for (const auto& folder : folders.programFolders) {
        for (const auto name : browser.executables) {
            if (::access((folder / std::string(name)).c_str(), X_OK) == 0) return true;
        }
    }
    return false;
}

fs::path underRoot(const SetupFolders& folders, const fs::path& absolute) {
    return folders.systemRoot / absolute.relative_path();
}

// Whether any route (the package's or the per-user one) asks the browser to install the extension.
bool routeInPlace(const core::Browser& browser, const SetupFolders& folders) {
    if (browser.configFolder.empty()) {
        return isPresent(firefoxUserExtensionFile(folders.home)) ||
               isPresent(underRoot(folders, "/usr/share/mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/capture@tolvar.app.xpi"));
    }
    const std::string entry = std::string(chromiumExtensionId) + ".json";
    if (isPresent(folders.configHome / browser.configFolder / "External Extensions" / entry)) return true;
    if (browser.key == "chromium") return isPresent(underRoot(folders, "/usr/share/chromium/extensions/tolvar-capture"));
    if (browser.key == "chrome") return isPresent(underRoot(folders, "/usr/share/google-chrome/extensions") / entry);
    return false;
}

std::string summaryOf(const BrowserSetup& setup, std::string (*formatTime)(double)) {
    switch (setup.state) {
        case ExtensionState::connected: return "Connected; last report " + formatTime(setup.lastReport);
        case ExtensionState::installed: return "Installed, no report yet: start or restart " + setup.name;
        case ExtensionState::missing: break;
    }
    if (setup.canSetUp) return "Extension missing: Set Up installs it, then restart " + setup.name;
    return "Extension missing: install Tolvar's package, or Mozilla's signed add-on";
}

}  // namespace

SetupFolders setupFoldersOfThisUser() {
    SetupFolders folders;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') folders.home = home;
    folders.configHome = configHome();
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
        folders.runtimeDirectory = runtime;
    }
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= path.size();) {
        const auto end = std::min(path.find(':', start), path.size());
        if (end > start && path[start] == '/') folders.programFolders.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

std::vector<BrowserSetup> browserSetups(const SetupFolders& folders, std::string (*formatTime)(double)) {
    std::vector<BrowserSetup> setups;
    const ReportStore store(folders.runtimeDirectory / "tolvar-capture");
    for (const auto& browser : core::browsers()) {
        if (!browser.runsOnLinux() || !found(browser, folders)) continue;
        BrowserSetup setup{.key = std::string(browser.key), .name = std::string(browser.applicationName)};
        // Firefox takes only a Mozilla-signed add-on per user; the others take the bundle's .crx.
        setup.canSetUp = !browser.configFolder.empty();
        const auto report = folders.runtimeDirectory.empty() ? std::nullopt : store.read(browser.key);
        if (report) {
            setup.state = ExtensionState::connected;
            setup.lastReport = report->received;
        } else if (routeInPlace(browser, folders)) {
            setup.state = ExtensionState::installed;
        }
        setup.summary = summaryOf(setup, formatTime);
        setups.push_back(std::move(setup));
    }
    return setups;
}

const char* extensionStateName(ExtensionState state) {
    switch (state) {
        case ExtensionState::connected: return "connected";
        case ExtensionState::installed: return "installed";
        case ExtensionState::missing: break;
    }
    return "missing";
}

}  // namespace capture
