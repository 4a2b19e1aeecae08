#include "capture/BrowserHelpers.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "capture/BrowserCapture.h"
#include "capture/CaptureRules.h"
#include "capture/ExtensionRoutes.h"
#include "platform/Bundle.h"
#include "core/Files.h"

namespace capture {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

std::optional<std::vector<HelperFile>> helperFilesFor(const fs::path& bundle, const fs::path& home,
                                                      const fs::path& configHome) {
    const fs::path host = bundle / "libexec" / "tolvar-capture-host";
    const auto manifest = readFile(bundledUnpackedExtension(bundle) / "manifest.json");
    const auto version = manifest ? extensionVersion(*manifest) : std::nullopt;
    if (::access(host.c_str(), X_OK) != 0 || !version || !fs::is_regular_file(bundledCrx(bundle))) return std::nullopt;

    std::vector<HelperFile> files;
    for (auto& manifest : hostManifests(host, home, configHome)) {
        files.push_back({std::move(manifest.browserKey), std::move(manifest.file), std::move(manifest.text)});
    }
    for (auto& entry : perUserExternalExtensions(bundledCrx(bundle), *version, configHome)) {
        files.push_back({std::move(entry.browserKey), std::move(entry.file), std::move(entry.text)});
    }
    // Firefox installs only an add-on Mozilla signed into a user's profile; a bundle without one
    // leaves Firefox to the system route.
    if (auto signedXpi = readFile(bundledSignedXpi(bundle))) {
        files.push_back({"firefox", firefoxUserExtensionFile(home), std::move(*signedXpi)});
    }
    return files;
}

int installBrowserHelpers(const fs::path& bundle, std::ostream& out, std::ostream& err) {
    const char* homeVariable = std::getenv("HOME");
    const fs::path config = configHome();
    if (homeVariable == nullptr || homeVariable[0] != '/' || config.empty()) {
        err << "tolvar: HOME must be an absolute path\n";
        return 1;
    }
    const auto files = helperFilesFor(bundle, homeVariable, config);
    if (!files) {
        err << "tolvar: " << bundle.string() << " lacks its capture host or browser extension\n";
        return 1;
    }
    int status = 0;
    for (const auto& helper : *files) {
        // An unchanged file is left as it is, so installing twice changes nothing.
        const bool unchanged = core::fileHolds(helper.file, helper.bytes, 0644);
        std::error_code error;
        if (!unchanged) fs::create_directories(helper.file.parent_path(), error);
        if (!unchanged && (error || !core::replaceFile(helper.file, helper.bytes, 0644, core::Flush::toDisk))) {
            err << "tolvar: could not write " << helper.file.string() << "\n";
            status = 1;
            continue;
        }
        out << helper.browserKey << ": " << helper.file.string() << "\n";
    }
    return status;
}

int installBrowserHelpersOfRunningBundle(std::ostream& out, std::ostream& err) {
    const auto bundle = platform::runningBundleDir();
    if (!bundle) {
        err << "tolvar: not running from a Tolvar.app bundle\n";
        return 1;
    }
    return installBrowserHelpers(*bundle, out, err);
}

void refreshBrowserHelpers(const fs::path& bundle, const fs::path& home, const fs::path& configHome) {
    for (const auto& helper : helperFilesFor(bundle, home, configHome).value_or(std::vector<HelperFile>{})) {
        if (helper.file.extension() == ".xpi") continue;
        const auto current = readFile(helper.file);
        if (!current || *current == helper.bytes || current->find(bundle.string()) == std::string::npos) continue;
        core::replaceFile(helper.file, helper.bytes, 0644, core::Flush::toDisk);
    }
}

void refreshBrowserHelpersOfRunningBundle() {
    const char* home = std::getenv("HOME");
    const auto bundle = platform::runningBundleDir();
    if (home != nullptr && home[0] == '/' && bundle) refreshBrowserHelpers(*bundle, home, configHome());
}

}  // namespace capture
