#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The per-user browser setup of a bundle (`tolvar --install-browser-helpers`, part of `--install`,
// and Preferences' "Set Up"): the native-messaging host manifests of every supported browser, each
// Chromium-family browser's external-extension entry for the bundle's .crx, and the Mozilla-signed
// Firefox add-on when the bundle carries one.
namespace capture {

struct HelperFile {
    std::string browserKey;
    std::filesystem::path file;
    std::string bytes;
};

// Every file that connects the browsers of the user at `home` (with XDG config folder `configHome`)
// to the extension and host of `bundle`. Nothing when the bundle lacks its capture host or its
// extension.
std::optional<std::vector<HelperFile>> helperFilesFor(const std::filesystem::path& bundle,
                                                      const std::filesystem::path& home,
                                                      const std::filesystem::path& configHome);

// Writes those files for the current user (from HOME and XDG_CONFIG_HOME), telling `out` what was
// written and `err` what failed; answers the process exit status (0 when everything was written).
int installBrowserHelpers(const std::filesystem::path& bundle, std::ostream& out, std::ostream& err);

// The same for the running bundle.
int installBrowserHelpersOfRunningBundle(std::ostream& out, std::ostream& err);

// After an update, the bundle's extension may be newer than the entries written when it was
// installed: rewrites each text file of helperFilesFor that already names `bundle` and differs.
// Adds and removes nothing, so a browser the user left alone stays so.
void refreshBrowserHelpers(const std::filesystem::path& bundle, const std::filesystem::path& home,
                           const std::filesystem::path& configHome);
void refreshBrowserHelpersOfRunningBundle();

}  // namespace capture
