#pragma once

#include <optional>
#include <string>

// The Preferences window's side in the shell: what it shows and what its controls change. The
// window itself is the platform's; the choices live with their owners (the quick-save controller,
// the installer's autostart entry, the service address).
namespace Preferences {

// The service address field: the stored address, or TOLVAR_SERVICE_URL's when that is set, which
// wins and locks the field. A changed address is used from the next start: pages already open
// keep the server they came from.
struct ServiceAddressField {
    std::string text;
    bool locked = false;
    std::string note;
};
ServiceAddressField serviceAddressField(const std::optional<std::string>& environment,
                                        const std::optional<std::string>& stored);

// A typed address: the text to store (empty for the default), or the message that refuses it,
// in which case nothing changes.
struct AddressChange {
    std::optional<std::string> stored;
    std::string message;
};
AddressChange changeServiceAddress(const std::string& typed);

// Shows the window (Ctrl+, and the application menu).
void show();

// Registers the automation commands: "preferences" shows the window, "record-shortcut" clicks its
// shortcut button, "shortcut <accelerator>" offers a combination as if pressed,
// "open-shortcut-settings" clicks the button that opens the desktop's shortcut settings,
// "gnome-keybinding" clicks the button that adds or removes the entry in GNOME's keyboard shortcuts.
void registerAutomationCommands();

}  // namespace Preferences
