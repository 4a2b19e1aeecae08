#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Menu.h"

namespace platform {

// Registers a system-wide hot key (an accelerator such as "<Ctrl><Alt>B"). False when the desktop
// does not allow it (no X11, or another program holds the key). The handler runs on the main loop.
bool registerGlobalHotKey(const std::string& accelerator, std::function<void()> handler);

// Lets go of a hot key that registerGlobalHotKey took.
void unregisterGlobalHotKey(const std::string& accelerator);

// The program's display is a Wayland compositor's.
bool isWaylandSession();

// An activation token handed over by the desktop (xdg-activation), used when the next window is
// raised so that the compositor gives it the focus.
void noteActivationToken(const std::string& token);

// The status (tray) item: this program's icon, a tooltip and a menu, for the life of the process.
class StatusItem {
public:
    virtual ~StatusItem() = default;
    virtual void setTooltip(const std::string& tooltip) = 0;
    // The title of the menu's item at `index` (separators count), as shown.
    virtual void setItemTitle(std::size_t index, const std::string& title) = 0;
    virtual std::string itemTitle(std::size_t index) const = 0;
    // Shows or hides the icon; the item and its menu stay ready.
    virtual void setShown(bool shown) = 0;
};

// Puts up the status item. Items with a standard quit action end the application.
std::unique_ptr<StatusItem> installStatusItem(const std::string& id, const std::string& tooltip,
                                              const std::vector<MenuItem>& menu);

// A global shortcut bound through the desktop portal (org.freedesktop.portal.GlobalShortcuts).
struct PortalShortcutRequest {
    std::string applicationId;  // told to the portal first, so its dialogs name this program
    std::string shortcutId;
    std::string description;
    std::string preferredTrigger;  // in the XDG shortcuts notation, such as "CTRL+ALT+b"
    // Whether BindShortcuts may be called when the portal does not know the shortcut yet. Some
    // portals answer it by opening the desktop's settings, so it is asked once, not at every start.
    bool mayAskToBind = true;
};
struct PortalShortcutEvents {
    // The portal's description of the trigger, once the binding settles and whenever the user
    // changes it; nothing when the portal is missing, refuses, or bound no trigger.
    std::function<void(const std::optional<std::string>& trigger)> triggerChanged;
    // On the main loop, for each press, with the token that lets the program raise its window on
    // compositors that demand one (empty when the portal gives none).
    std::function<void(const std::string& activationToken)> activated;
    // Just before BindShortcuts is called, so the caller can remember that it was asked.
    std::function<void()> bindingAsked;
};
class PortalShortcut {
public:
    virtual ~PortalShortcut() = default;
    // Whether the portal can show the desktop's own settings for the shortcut (its version 2 and
    // later, once the session stands).
    virtual bool offersSettings() const = 0;
    virtual void openSettings() = 0;
};

// Creates a session with the portal (the shortcut goes along in its options, where portals of the
// earlier form of the interface take it), takes the binding from the session's answer or from
// ListShortcuts, asks BindShortcuts only when the portal still does not know the shortcut and
// `mayAskToBind` allows it, and follows the binding. Everything happens later on the main loop; a
// portal that never answers leaves the shortcut unbound. Destroying the handle silences the events.
std::unique_ptr<PortalShortcut> bindPortalShortcut(const PortalShortcutRequest& request, PortalShortcutEvents events);

}  // namespace platform
