#pragma once

#include <filesystem>
#include <ostream>

// `tolvar --install-browser-helpers`: the native-messaging host manifests of every supported
// browser, written into each browser's per-user folder so the Tolvar extension may start the
// bundle's tolvar-capture-host.
namespace capture {

// Writes the manifests for `hostExecutable`, telling `out` what was written and `err` what failed;
// answers the process exit status (0 when every manifest was written).
int installBrowserHelpers(const std::filesystem::path& hostExecutable, std::ostream& out, std::ostream& err);

// The same for the running bundle's libexec/tolvar-capture-host.
int installBrowserHelpersOfRunningBundle(std::ostream& out, std::ostream& err);

}  // namespace capture
