#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/GnomeKeybindings.h"

// Quick save's entry among GNOME's custom keyboard shortcuts, for GNOME sessions that offer
// programs no global shortcut of their own: GNOME runs "tolvar --quick-save" on the binding. The
// entry is added and removed only when the user asks.
namespace GnomeShortcut {

inline constexpr std::string_view name = "Tolvar quick save";
inline constexpr std::string_view binding = "<Primary><Alt>b";
// Where GNOME's Settings put custom entries; a new one takes the first number not in use.
inline constexpr std::string_view pathPrefix = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom";

// The command line GNOME runs for this executable: its path, quoted where the shell's rules need
// it, and "--quick-save".
std::string command(const std::string& executable);

// The command for the running bundle's bin/tolvar (the running executable outside a bundle).
std::string commandOfRunningBundle();

// This program's entry: the one that runs `command`.
std::optional<platform::GnomeKeybinding> ours(const std::vector<platform::GnomeKeybinding>& entries,
                                              const std::string& command);

// What adding does: the entry to append, or nothing with the reason to show (empty when the entry
// is already there, which leaves nothing to do).
struct Addition {
    std::optional<platform::GnomeKeybinding> entry;
    std::string message;
};
Addition planAddition(const std::vector<platform::GnomeKeybinding>& entries, const std::string& command);

// The trigger of this program's entry as the interface names it ("Ctrl+Alt+B"); nothing without
// the entry or when its binding is no key combination (GNOME's empty binding is a disabled one).
std::optional<std::string> trigger(const std::vector<platform::GnomeKeybinding>& entries, const std::string& command);

// Takes out the entries that run any of these commands (uninstalling does); answers whether all went.
bool removeEntries(platform::GnomeKeybindings& keybindings, const std::vector<std::string>& commands);

}  // namespace GnomeShortcut
