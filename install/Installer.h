#pragma once

#include <filesystem>
#include <optional>
#include <ostream>

// `tolvar --install` and `tolvar --uninstall`: the per-user installation, and the login item.
namespace install {

// Installs the bundle `source` for the current user: the bundle (swapped in as the updater does),
// the launcher entry, icons, metainfo, the browsers' helper manifests and, on a first install, the
// autostart entry. Writes only what differs. Prints what it wrote to `out`; on a failure one line
// saying what and where to `err`, leaving the earlier installation complete. Answers the exit status.
int installForUser(const std::filesystem::path& source, std::ostream& out, std::ostream& err);

// Removes everything installForUser writes, printing each removed path; the data folders too with
// `purge`. Answers the exit status.
int uninstallForUser(bool purge, std::ostream& out, std::ostream& err);

// Whether the session starts Tolvar at login (the autostart entry exists).
bool startsAtLogin();

// Writes the autostart entry for the running bundle's executable, or removes it. False when that failed.
bool setStartAtLogin(bool on);

}  // namespace install
