#include "capture/BrowserHelpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include "capture/BrowserCapture.h"
#include "capture/CaptureRules.h"
#include "platform/Bundle.h"
#include "platform/Files.h"

namespace capture {
namespace {

namespace fs = std::filesystem;

}  // namespace

int installBrowserHelpers(const fs::path& hostExecutable, std::ostream& out, std::ostream& err) {
    if (!hostExecutable.is_absolute() || ::access(hostExecutable.c_str(), X_OK) != 0) {
        err << "tolvar: the capture host " << hostExecutable << " is missing or not executable\n";
        return 1;
    }
    const char* homeVariable = std::getenv("HOME");
    const fs::path config = configHome();
    if (homeVariable == nullptr || homeVariable[0] != '/' || config.empty()) {
        err << "tolvar: HOME must be an absolute path\n";
        return 1;
    }
    int status = 0;
    for (const auto& manifest : hostManifests(hostExecutable, homeVariable, config)) {
        // An unchanged manifest is left as it is, so installing twice changes nothing.
        const bool unchanged = platform::fileHolds(manifest.file, manifest.text, 0644);
        std::error_code error;
        if (!unchanged) fs::create_directories(manifest.file.parent_path(), error);
        if (!unchanged && (error || !platform::replaceFile(manifest.file, manifest.text, 0644, platform::Flush::toDisk))) {
            err << "tolvar: could not write " << manifest.file.string() << "\n";
            status = 1;
            continue;
        }
        out << manifest.browserKey << ": " << manifest.file.string() << "\n";
    }
    return status;
}

int installBrowserHelpersOfRunningBundle(std::ostream& out, std::ostream& err) {
    const auto bundle = platform::runningBundleDir();
    if (!bundle) {
        err << "tolvar: not running from a Tolvar.app bundle\n";
        return 1;
    }
    return installBrowserHelpers(*bundle / "libexec" / "tolvar-capture-host", out, err);
}

}  // namespace capture
