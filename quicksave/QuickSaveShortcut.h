#pragma once

#include <optional>
#include <string>
#include <string_view>

// The global shortcut of quick save and what the interface says about it. Only a trigger that is
// really in effect is ever named: the X11 key grab, or the trigger the desktop portal bound.
namespace QuickSaveShortcut {

// The key grabbed on X11, and as it is shown.
inline constexpr std::string_view x11Accelerator = "<Ctrl><Alt>B";
inline constexpr std::string_view x11Trigger = "Ctrl+Alt+B";

// What the desktop portal is asked to bind.
inline constexpr std::string_view portalShortcutId = "quick-save";
inline constexpr std::string_view portalDescription = "Save the current page to Tolvar";
inline constexpr std::string_view portalPreferredTrigger = "CTRL+ALT+b";

// Where the X11 key could not be grabbed, a Wayland session may still offer the portal.
bool shouldAskPortal(bool x11KeyHeld, bool waylandSession);

// The trigger in effect: the X11 key when it is held, else the portal's description of the trigger
// it bound (nothing when the portal bound none, or described it with blank text), else nothing.
std::optional<std::string> triggerInEffect(bool x11KeyHeld, const std::optional<std::string>& portalTrigger);

// The texts that name the trigger.
struct Texts {
    std::string statusMenuTitle;     // first item of the status item's menu
    std::string bookmarksMenuTitle;  // first item of the main window's Bookmarks menu
    std::string tooltip;             // the status item's tooltip
    std::string hint;                // the panel's status line when it opens without an address
};
Texts texts(const std::optional<std::string>& trigger);

}  // namespace QuickSaveShortcut
