#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where a per-user installation puts its files, and the text of its desktop entries. Decides only;
// the installer does the writing.
namespace install {

// The user's base folders, from HOME and the XDG variables (relative XDG values are ignored, as the
// base-directory rules say).
struct UserFolders {
    std::filesystem::path home, dataHome, configHome, cacheHome;
};

// Nothing when HOME is not an absolute path.
std::optional<UserFolders> userFolders();

struct Layout {
    std::filesystem::path bundle;          // the installed Tolvar.app
    std::filesystem::path launcherEntry;   // the desktop entry in the applications folder
    std::filesystem::path autostartEntry;  // the entry the session starts at login
    std::filesystem::path metainfo;        // the AppStream description
    std::filesystem::path iconTheme;       // the user's hicolor icon theme
    std::vector<std::filesystem::path> dataFolders;  // web session, settings, caches
};

Layout perUserLayout(const UserFolders& folders);

// One argument of an Exec line, quoted by the Desktop Entry rules: in double quotes when it holds a
// reserved character, with '"', '`', '$' and '\' escaped inside them, '%' doubled, and every
// backslash doubled again for the string escaping that readers undo first. Nothing for a text with
// a control character, which no Exec line can carry.
std::optional<std::string> quoteExecArgument(std::string_view argument);

// The bundle's launcher entry with the program of every Exec line (the bare "tolvar" it names)
// replaced by the quoted absolute `executable`, keeping the arguments after it.
std::optional<std::string> launcherEntryFor(std::string_view bundledEntry, const std::filesystem::path& executable);

// The autostart entry: the executable with "--background".
std::optional<std::string> autostartEntryFor(const std::filesystem::path& executable);

}  // namespace install
