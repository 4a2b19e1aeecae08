#pragma once

#include <optional>
#include <string>
#include <string_view>

// The global shortcut of quick save and what the interface says about it. Only a trigger that is
// really in effect is ever named: the X11 key grab, or the trigger the desktop portal bound.
namespace QuickSaveShortcut {

// The key grabbed on X11 unless the user chose another, and where that choice is kept.
inline constexpr std::string_view x11Accelerator = "<Ctrl><Alt>B";
inline constexpr std::string_view settingKey = "tolvar.quickSaveShortcut";

// A key combination for the X11 grab.
struct Combination {
    bool ctrl = false;
    bool alt = false;
    bool shift = false;
    bool super = false;
    std::string key;  // an X key name; a single letter in upper case ("B", "F5", "space")

    // In the accelerator notation that the grab takes: "<Ctrl><Alt>B".
    std::string accelerator() const;
    // As the interface names it: "Ctrl+Alt+B".
    std::string label() const;
    bool operator==(const Combination&) const = default;
};

// The combination an accelerator text ("<Ctrl><Alt>B", "<Primary><Shift>k") names; nothing for any
// other text.
std::optional<Combination> parseAccelerator(std::string_view text);

// Why a combination cannot be a global shortcut (it would swallow ordinary typing), or nothing.
std::optional<std::string> refusal(const Combination& combination);

// The combination to grab: the stored one when it is a usable combination, else Ctrl+Alt+B.
Combination chosenCombination(const std::optional<std::string>& stored);

// What the desktop portal is asked to bind.
inline constexpr std::string_view portalShortcutId = "quick-save";
inline constexpr std::string_view portalDescription = "Save the current page to Tolvar";
inline constexpr std::string_view portalPreferredTrigger = "CTRL+ALT+b";
// Set once the portal was asked to bind: a portal that binds nothing (and may open the desktop's
// settings instead) is not asked again at every start.
inline constexpr std::string_view portalBindAskedKey = "tolvar.portalShortcutBindAsked";

// Where the X11 key could not be grabbed, a Wayland session may still offer the portal.
bool shouldAskPortal(bool x11KeyHeld, bool waylandSession);

// The trigger in effect: the X11 key's label when it is held, else the portal's description of the trigger
// it bound (nothing when the portal bound none, or described it with blank text), else the binding
// of this program's entry in GNOME's keyboard shortcuts, else nothing.
std::optional<std::string> triggerInEffect(const std::optional<std::string>& heldX11Key,
                                           const std::optional<std::string>& portalTrigger,
                                           const std::optional<std::string>& gnomeTrigger = std::nullopt);

// The texts that name the trigger.
struct Texts {
    std::string statusMenuTitle;     // first item of the status item's menu
    std::string bookmarksMenuTitle;  // first item of the main window's Bookmarks menu
    std::string tooltip;             // the status item's tooltip
    std::string hint;                // the panel's status line when it opens without an address
};
Texts texts(const std::optional<std::string>& trigger);

}  // namespace QuickSaveShortcut
