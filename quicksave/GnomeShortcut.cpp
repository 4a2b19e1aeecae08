#include "quicksave/GnomeShortcut.h"

#include <algorithm>
#include <cctype>

#include "platform/Bundle.h"
#include "quicksave/QuickSaveShortcut.h"

namespace GnomeShortcut {
namespace {

bool needsNoQuoting(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isalnum(c) || std::string_view("/._-+,:=@%").find(char(c)) != std::string_view::npos;
    });
}

// Single quotes keep everything literal; a single quote itself ends them, is escaped, and reopens them.
std::string shellQuoted(const std::string& text) {
    if (needsNoQuoting(text)) return text;
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool sameCombination(const std::string& a, const std::string& b) {
    const auto first = QuickSaveShortcut::parseAccelerator(a);
    return first && first == QuickSaveShortcut::parseAccelerator(b);
}

std::string unusedPath(const std::vector<platform::GnomeKeybinding>& entries) {
    for (unsigned number = 0;; ++number) {
        const std::string path = std::string(pathPrefix) + std::to_string(number) + "/";
        if (std::none_of(entries.begin(), entries.end(), [&](const auto& entry) { return entry.path == path; })) {
            return path;
        }
    }
}

}  // namespace

std::string command(const std::string& executable) { return shellQuoted(executable) + " --quick-save"; }

std::string commandOfRunningBundle() {
    const auto bundle = platform::runningBundleDir();
    const auto executable = bundle ? std::optional(*bundle / "bin" / "tolvar") : platform::runningExecutable();
    return command(executable.value_or("tolvar").string());
}

std::optional<platform::GnomeKeybinding> ours(const std::vector<platform::GnomeKeybinding>& entries,
                                              const std::string& command) {
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const auto& entry) { return entry.command == command; });
    if (found == entries.end()) return std::nullopt;
    return *found;
}

Addition planAddition(const std::vector<platform::GnomeKeybinding>& entries, const std::string& command) {
    if (ours(entries, command)) return {};
    for (const auto& entry : entries) {
        if (sameCombination(entry.binding, std::string(binding))) {
            return {std::nullopt, "Ctrl+Alt+B is already used by “" + entry.name +
                                      "” in GNOME's keyboard shortcuts, so nothing was added."};
        }
    }
    return {platform::GnomeKeybinding{unusedPath(entries), std::string(name), command, std::string(binding)}, ""};
}

std::optional<std::string> trigger(const std::vector<platform::GnomeKeybinding>& entries, const std::string& command) {
    const auto entry = ours(entries, command);
    if (!entry) return std::nullopt;
    const auto combination = QuickSaveShortcut::parseAccelerator(entry->binding);
    if (!combination) return std::nullopt;
    return combination->label();
}

bool removeEntries(platform::GnomeKeybindings& keybindings, const std::vector<std::string>& commands) {
    bool removed = true;
    for (const auto& entry : keybindings.entries()) {
        if (std::find(commands.begin(), commands.end(), entry.command) != commands.end()) {
            removed = keybindings.remove(entry.path) && removed;
        }
    }
    return removed;
}

}  // namespace GnomeShortcut
