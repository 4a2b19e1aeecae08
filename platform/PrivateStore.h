#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// The application's own folders under the user's XDG data, cache and config folders.
std::vector<std::filesystem::path> applicationFolders(const std::string& applicationName);

// Creates `folder` if needed and leaves it, and everything inside it, to the user alone: group and
// other permissions are removed (folders become 0700, files 0600 under the usual modes), whatever
// the umask they were made with. Symbolic links, and an application bundle installed there (whose
// signature covers its modes), are left as they are. Failures are ignored.
void makePrivate(const std::filesystem::path& folder);

// Moves every store file under `folder` (SQLite databases: *.sqlite, *.sqlite3, *.db,
// *.localstorage) that is not a database out of the way, to "<name>.damaged-<stamp>" beside it,
// together with its journal files, so the web engine starts a fresh one and nothing is lost.
// Answers the new names.
std::vector<std::filesystem::path> setAsideDamagedStores(const std::filesystem::path& folder, const std::string& stamp);

// The local time as "YYYYMMDD-HHMMSS", for names of files set aside.
std::string fileTimeStamp();

}  // namespace platform
