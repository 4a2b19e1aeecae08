#include "install/Layout.h"

#include <cstdlib>
#include <sstream>

#include "core/ApplicationId.h"

namespace install {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view reservedInExec = " \t\n\"'\\><~|&;$*?#()`";
constexpr std::string_view escapedInQuotes = "\"`$\\";
constexpr std::string_view bundledCommand = "tolvar";

fs::path baseFolder(const char* variable, const fs::path& fallback) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    return fallback;
}

std::string id() { return std::string(core::applicationId); }

}  // namespace

std::optional<UserFolders> userFolders() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return std::nullopt;
    const fs::path root = home;
    return UserFolders{.home = root,
                       .dataHome = baseFolder("XDG_DATA_HOME", root / ".local" / "share"),
                       .configHome = baseFolder("XDG_CONFIG_HOME", root / ".config"),
                       .cacheHome = baseFolder("XDG_CACHE_HOME", root / ".cache")};
}

Layout perUserLayout(const UserFolders& folders) {
    return Layout{.bundle = folders.dataHome / "tolvar" / "Tolvar.app",
                  .launcherEntry = folders.dataHome / "applications" / (id() + ".desktop"),
                  .autostartEntry = folders.configHome / "autostart" / (id() + ".desktop"),
                  .metainfo = folders.dataHome / "metainfo" / (id() + ".metainfo.xml"),
                  .iconTheme = folders.dataHome / "icons" / "hicolor",
                  .dataFolders = {folders.dataHome / "tolvar", folders.configHome / "tolvar",
                                  folders.cacheHome / "tolvar"}};
}

std::optional<std::string> quoteExecArgument(std::string_view argument) {
    bool quoted = argument.empty();
    for (const char c : argument) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
        if (reservedInExec.find(c) != std::string_view::npos) quoted = true;
    }
    std::string text;
    for (const char c : argument) {
        if (c == '%') text += "%%";
        else if (quoted && escapedInQuotes.find(c) != std::string_view::npos) (text += '\\') += c;
        else text += c;
    }
    if (quoted) text = '"' + text + '"';
    std::string escaped;
    for (const char c : text) {
        escaped += c;
        if (c == '\\') escaped += '\\';
    }
    return escaped;
}

std::optional<std::string> launcherEntryFor(std::string_view bundledEntry, const fs::path& executable) {
    const auto program = quoteExecArgument(executable.string());
    if (!program) return std::nullopt;
    std::istringstream lines{std::string(bundledEntry)};
    std::string entry;
    for (std::string line; std::getline(lines, line);) {
        const std::string key = "Exec=" + std::string(bundledCommand);
        if (line.starts_with(key) && (line.size() == key.size() || line[key.size()] == ' ')) {
            line = "Exec=" + *program + line.substr(key.size());
        }
        entry += line + "\n";
    }
    return entry;
}

std::optional<std::string> autostartEntryFor(const fs::path& executable) {
    const auto program = quoteExecArgument(executable.string());
    if (!program) return std::nullopt;
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tolvar\n"
           "Comment=Starts Tolvar in the background for quick save\n"
           "Exec=" + *program + " --background\n"
           "Icon=" + id() + "\n"
           "NoDisplay=true\n"
           "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace install
