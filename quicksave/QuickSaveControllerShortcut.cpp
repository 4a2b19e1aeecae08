// The quick-save controller's user-chosen parts: the X11 shortcut, the portal's settings, the entry
// in GNOME's keyboard shortcuts and the status item's visibility.
#include "platform/Services.h"
#include "quicksave/GnomeShortcut.h"
#include "quicksave/QuickSaveController.h"

bool QuickSaveController::grab(const QuickSaveShortcut::Combination& combination) {
    // The shortcut only queues present(): the panel is never built inside the key handler.
    return platform::services().registerGlobalHotKey(combination.accelerator(), [weakSelf = weak_from_this()] {
        platform::services().runAfter(0, [weakSelf] {
            if (auto self = weakSelf.lock()) self->present();
        });
    });
}

QuickSaveController::ShortcutChange QuickSaveController::changeShortcut(const std::string& accelerator) {
    const auto combination = QuickSaveShortcut::parseAccelerator(accelerator);
    if (!combination) return {false, "That is not a key combination."};
    if (auto why = QuickSaveShortcut::refusal(*combination)) return {false, *why};
    if (platform::services().isWaylandSession()) return {false, "On Wayland the desktop's shortcut settings choose the shortcut."};
    const bool unchanged = x11KeyHeld_ && *combination == x11Combination_;
    if (!unchanged) {
        if (!grab(*combination)) {
            return {false, "Another program already uses " + combination->label() + ". Choose another combination."};
        }
        if (x11KeyHeld_) platform::services().unregisterGlobalHotKey(x11Combination_.accelerator());
        x11Combination_ = *combination;
        x11KeyHeld_ = true;
    }
    const bool saved = platform::services().writeSetting(std::string(QuickSaveShortcut::settingKey),
                                                         combination->accelerator());
    showTrigger(false);
    if (!saved) return {true, combination->label() + " works until Tolvar quits: it could not be saved."};
    return {true, ""};
}

bool QuickSaveController::portalBoundATrigger() const {
    return QuickSaveShortcut::triggerInEffect(std::nullopt, portalTrigger_).has_value();
}

bool QuickSaveController::portalOffersSettings() const {
    return portalShortcut_ && portalShortcut_->offersSettings();
}

void QuickSaveController::openPortalSettings() {
    if (portalShortcut_) portalShortcut_->openSettings();
}

bool QuickSaveController::statusItemWanted() {
    return platform::services().readSetting(statusItemSettingKey) != std::optional<std::string>("false");
}

void QuickSaveController::showStatusItem(bool shown) {
    if (statusItem_) statusItem_->setShown(shown);
}

// Where neither the X11 key nor the portal gives a shortcut, a GNOME session can run
// "tolvar --quick-save" from its own keyboard shortcuts.
bool QuickSaveController::offersGnomeKeybinding() const {
    return gnomeKeybindings_ && !x11KeyHeld_ && !portalBoundATrigger();
}

bool QuickSaveController::hasGnomeKeybinding() const {
    return gnomeKeybindings_ &&
           GnomeShortcut::ours(gnomeKeybindings_->entries(), GnomeShortcut::commandOfRunningBundle()).has_value();
}

std::string QuickSaveController::addGnomeKeybinding() {
    if (!gnomeKeybindings_) return "";
    const auto addition = GnomeShortcut::planAddition(gnomeKeybindings_->entries(), GnomeShortcut::commandOfRunningBundle());
    if (addition.entry && !gnomeKeybindings_->add(*addition.entry)) return "GNOME's keyboard shortcuts could not be changed.";
    followGnomeKeybinding();
    return addition.message;
}

std::string QuickSaveController::removeGnomeKeybinding() {
    if (!gnomeKeybindings_) return "";
    if (!GnomeShortcut::removeEntries(*gnomeKeybindings_, {GnomeShortcut::commandOfRunningBundle()})) {
        return "GNOME's keyboard shortcuts could not be changed.";
    }
    followGnomeKeybinding();
    return "";
}

void QuickSaveController::followGnomeKeybinding() {
    const auto trigger = GnomeShortcut::trigger(gnomeKeybindings_->entries(), GnomeShortcut::commandOfRunningBundle());
    const bool changed = trigger != gnomeTrigger_;
    gnomeTrigger_ = trigger;
    showTrigger(changed);
}
