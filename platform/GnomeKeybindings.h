#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

// GNOME's custom keyboard shortcuts: the settings daemon runs an entry's command when its binding
// is pressed. They live in GSettings (the "custom-keybindings" list of
// org.gnome.settings-daemon.plugins.media-keys, each path holding a relocatable
// org.gnome.settings-daemon.plugins.media-keys.custom-keybinding).
namespace platform {

struct GnomeKeybinding {
    std::string path;     // "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/"
    std::string name;
    std::string command;  // a command line, as GNOME parses it
    std::string binding;  // GTK's accelerator notation, "<Primary><Alt>b"
    bool operator==(const GnomeKeybinding&) const = default;
};

class GnomeKeybindings {
public:
    virtual ~GnomeKeybindings() = default;
    // The entries in the list's order.
    virtual std::vector<GnomeKeybinding> entries() const = 0;
    // Writes the entry at its path and appends the path to the list; answers whether it was stored.
    virtual bool add(const GnomeKeybinding& entry) = 0;
    // Takes the path out of the list and clears the entry's keys; the other entries stay as they are.
    virtual bool remove(const std::string& path) = 0;
};

// GNOME's custom shortcuts in the user's settings; nothing when GNOME's schemas are not installed.
// `changed`, when given, runs on the main loop after the list or one of its entries changed, here
// or in another program.
std::unique_ptr<GnomeKeybindings> openGnomeKeybindings(std::function<void()> changed = {});

// The session is GNOME's (XDG_CURRENT_DESKTOP names it, as "GNOME" or "ubuntu:GNOME").
bool isGnomeSession();

}  // namespace platform
