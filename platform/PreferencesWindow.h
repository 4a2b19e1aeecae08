#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/SnapshotSource.h"

namespace platform {

// How the quick-save shortcut is chosen on this desktop.
enum class ShortcutChoice {
    keyGrab,        // X11: the window records a new combination
    desktopPortal,  // Wayland: the desktop binds it; the window shows it and may open its settings
    gnomeKeybinding,  // GNOME without either: the window adds or removes an entry in GNOME's shortcuts
    none,           // neither: the window says how to bind "tolvar --quick-save" instead
};

// One line of the "Browsers" section: a browser found on this machine and its extension's state.
struct BrowserRow {
    std::string key;
    std::string name;
    std::string summary;
    bool offersSetUp = false;  // a "Set Up" button
};

// What the Preferences window shows; filled again each time it is shown.
struct PreferencesState {
    ShortcutChoice shortcutChoice = ShortcutChoice::none;
    std::string shortcut;  // the shortcut in effect as shown, empty when none
    bool offersShortcutSettings = false;
    bool startsAtLogin = false;
    bool showsStatusIcon = true;
    std::string serviceAddress;  // the field's text
    bool serviceAddressLocked = false;  // set from outside the window: shown, not editable
    std::string serviceAddressNote;     // the line under the field
    // With the gnomeKeybinding choice: this program's entry is in GNOME's keyboard shortcuts.
    bool gnomeKeybindingAdded = false;
    std::vector<BrowserRow> browsers;
};

// What the window's controls do. Those answering a text answer the message to show under the
// control, empty when the change was made.
struct PreferencesActions {
    std::function<std::string(const std::string& accelerator)> changeShortcut;  // "<Ctrl><Alt>K"
    std::function<void()> openShortcutSettings;
    std::function<std::string(bool on)> setStartAtLogin;
    std::function<void(bool on)> setShowStatusIcon;
    std::function<std::string(const std::string& address)> setServiceAddress;
    std::function<std::string()> addGnomeKeybinding;
    std::function<std::string()> removeGnomeKeybinding;
    std::function<std::string(const std::string& browserKey)> setUpBrowser;
};

// The Preferences window: the quick-save shortcut, "Start at Login", "Show status icon" and the
// service address. Built once; closing it only hides it.
class PreferencesWindow : public SnapshotSource {
public:
    // Fills the controls from `state` and brings the window to the front.
    virtual void present(const PreferencesState& state) = 0;
    // Waits for a new combination, as a click on the shortcut button does.
    virtual void recordShortcut() = 0;
    // Clicks "Open Shortcut Settings…" when the window shows it.
    virtual void clickShortcutSettings() = 0;
    virtual bool showsShortcutSettings() const = 0;
    // Offers an accelerator as if it had been pressed while recording.
    virtual void offerShortcut(const std::string& accelerator) = 0;
    // Fills the controls from `state` without raising the window; the messages stay.
    virtual void refresh(const PreferencesState& state) = 0;
    virtual std::string shortcutMessage() const = 0;
    virtual std::string shownShortcut() const = 0;
    virtual bool isRecording() const = 0;
    // Clicks the button that adds or removes the entry in GNOME's keyboard shortcuts, when shown.
    virtual void clickGnomeKeybinding() = 0;
    virtual std::string gnomeKeybindingButton() const = 0;  // its title; empty when it is not shown
    virtual bool isVisible() const = 0;
    virtual bool isKey() const = 0;
    // Clicks the browser's "Set Up" button when its row shows one; the message shown under the section.
    virtual void clickSetUpBrowser(const std::string& browserKey) = 0;
    virtual std::string browsersMessage() const = 0;
};

std::unique_ptr<PreferencesWindow> createPreferencesWindow(PreferencesActions actions);

}  // namespace platform
