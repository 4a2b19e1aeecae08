#include "app/Preferences.h"

#include <ctime>
#include <memory>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/ServiceAddress.h"
#include "app/StartAtLogin.h"
#include "automation/Commands.h"
#include "automation/E2E.h"
#include "capture/BrowserHelpers.h"
#include "capture/BrowserSetup.h"
#include "core/Browsers.h"
#include "platform/DesktopIntegration.h"
#include "platform/PreferencesWindow.h"
#include "platform/Services.h"
#include "quicksave/QuickSaveController.h"

namespace Preferences {
namespace {

// The window is laid out and drawn by then, for the journal's picture of it.
constexpr double shownEventDelay = 0.3;
constexpr double changedEventDelay = 0.1;

platform::ShortcutChoice shortcutChoice(const QuickSaveController& quickSave) {
    // A portal that bound nothing and cannot show its settings leaves nothing to show but the way around it.
    if (quickSave.bindsThroughPortal() && (quickSave.portalBoundATrigger() || quickSave.portalOffersSettings())) {
        return platform::ShortcutChoice::desktopPortal;
    }
    if (!platform::services().isWaylandSession()) return platform::ShortcutChoice::keyGrab;
    if (quickSave.offersGnomeKeybinding()) return platform::ShortcutChoice::gnomeKeybinding;
    return platform::ShortcutChoice::none;
}

const char* choiceName(platform::ShortcutChoice choice) {
    switch (choice) {
        case platform::ShortcutChoice::keyGrab: return "key-grab";
        case platform::ShortcutChoice::desktopPortal: return "portal";
        case platform::ShortcutChoice::gnomeKeybinding: return "gnome";
        case platform::ShortcutChoice::none: break;
    }
    return "none";
}

// --- The "Browsers" section ---------------------------------------------------------------------

std::string localTime(double milliseconds) {
    const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::tm local{};
    char text[32] = "";
    if (localtime_r(&seconds, &local) != nullptr) std::strftime(text, sizeof text, "%H:%M on %Y-%m-%d", &local);
    return text;
}

std::vector<capture::BrowserSetup> browserSetups() {
    return capture::browserSetups(capture::setupFoldersOfThisUser(), localTime);
}

std::vector<platform::BrowserRow> browserRows() {
    std::vector<platform::BrowserRow> rows;
    for (const auto& setup : browserSetups()) {
        rows.push_back({setup.key, setup.name, setup.summary,
                        setup.canSetUp && setup.state != capture::ExtensionState::connected});
    }
    return rows;
}

// "Set Up": the per-user route for the running bundle; the browser installs the extension at its
// next start.
std::string setUpBrowser(const std::string& key) {
    std::ostringstream ignored, problems;
    const bool done = capture::installBrowserHelpersOfRunningBundle(ignored, problems) == 0;
    const auto* browser = core::browserForKey(key);
    const std::string name = browser != nullptr ? std::string(browser->applicationName) : key;
    return done ? "Set up: restart " + name + " to finish." : "Could not set up " + name + ": " + problems.str();
}

nlohmann::json browsersForJournal() {
    auto list = nlohmann::json::array();
    for (const auto& setup : browserSetups()) {
        list.push_back({{"browser", setup.key},
                        {"state", capture::extensionStateName(setup.state)},
                        {"lastReport", setup.lastReport},
                        {"setUp", setup.canSetUp && setup.state != capture::ExtensionState::connected},
                        {"summary", setup.summary}});
    }
    return list;
}

platform::PreferencesState currentState() {
    const auto& quickSave = QuickSaveController::shared();
    const auto address = serviceAddressField(platform::services().environmentValue(std::string(ServiceAddress::variable)),
                                             platform::services().readSetting(std::string(ServiceAddress::settingKey)));
    return {.shortcutChoice = shortcutChoice(quickSave),
            .shortcut = quickSave.shortcutInEffect().value_or(""),
            .offersShortcutSettings = quickSave.portalOffersSettings(),
            .startsAtLogin = platform::services().startsAtLogin(),
            .showsStatusIcon = QuickSaveController::statusItemWanted(),
            .serviceAddress = address.text,
            .serviceAddressLocked = address.locked,
            .serviceAddressNote = address.note,
            .gnomeKeybindingAdded = quickSave.hasGnomeKeybinding(),
            .browsers = browserRows()};
}

platform::PreferencesWindow& window();

std::string changeShortcut(const std::string& accelerator) {
    const auto change = QuickSaveController::shared().changeShortcut(accelerator);
    window().refresh(currentState());
    // Journaled once the window shows the answer.
    platform::services().runAfter(changedEventDelay, [change] {
        const auto& shown = window();
        E2E::report("shortcut-changed",
                    {{"accepted", change.accepted},
                     {"message", shown.shortcutMessage()},
                     {"shortcut", QuickSaveController::shared().shortcutInEffect().value_or("")},
                     {"shown", shown.shownShortcut()}},
                    &shown);
    });
    return change.message;
}

// Adds or removes quick save's entry in GNOME's keyboard shortcuts; journaled once the window shows
// the answer.
std::string changeGnomeKeybinding(bool add) {
    auto& quickSave = QuickSaveController::shared();
    const std::string message = add ? quickSave.addGnomeKeybinding() : quickSave.removeGnomeKeybinding();
    window().refresh(currentState());
    platform::services().runAfter(changedEventDelay, [message] {
        const auto& shown = window();
        E2E::report("gnome-keybinding", {{"message", message},
                                         {"added", QuickSaveController::shared().hasGnomeKeybinding()},
                                         {"button", shown.gnomeKeybindingButton()},
                                         {"shown", shown.shownShortcut()}},
                    &shown);
    });
    return message;
}

std::string setServiceAddress(const std::string& typed) {
    const auto change = changeServiceAddress(typed);
    const bool saved = !change.stored ||
                       platform::services().writeSetting(std::string(ServiceAddress::settingKey), *change.stored);
    window().refresh(currentState());
    return saved ? change.message : "The address could not be saved; the settings file could not be written.";
}

platform::PreferencesWindow& window() {
    static const std::unique_ptr<platform::PreferencesWindow> instance = platform::services().createPreferencesWindow({
        .changeShortcut = changeShortcut,
        .openShortcutSettings = [] { QuickSaveController::shared().openPortalSettings(); },
        .setStartAtLogin =
            [](bool on) {
                const std::string failure = StartAtLogin::change(on);
                // The check box goes back to what the login item says when the change failed.
                window().refresh(currentState());
                return failure;
            },
        .setShowStatusIcon =
            [](bool on) {
                platform::services().writeSetting(QuickSaveController::statusItemSettingKey, on ? "true" : "false");
                QuickSaveController::shared().showStatusItem(on);
            },
        .setServiceAddress = setServiceAddress,
        .addGnomeKeybinding = [] { return changeGnomeKeybinding(true); },
        .removeGnomeKeybinding = [] { return changeGnomeKeybinding(false); },
        .setUpBrowser =
            [](const std::string& key) {
                const std::string message = setUpBrowser(key);
                // After the click's handler: refreshing replaces the row of the button clicked.
                platform::services().runAfter(0, [] { window().refresh(currentState()); });
                return message;
            },
    });
    return *instance;
}

void reportShown() {
    const auto& shown = window();
    const auto state = currentState();
    E2E::report("preferences", {{"visible", shown.isVisible()},
                                {"key", shown.isKey()},
                                {"shortcut", shown.shownShortcut()},
                                {"choice", choiceName(state.shortcutChoice)},
                                {"shortcutSettings", shown.showsShortcutSettings()},
                                {"gnomeKeybinding", shown.gnomeKeybindingButton()},
                                {"startAtLogin", state.startsAtLogin},
                                {"statusIcon", state.showsStatusIcon},
                                {"serviceAddress", state.serviceAddress},
                                {"serviceAddressLocked", state.serviceAddressLocked},
                                {"browsers", browsersForJournal()},
                                {"browsersMessage", shown.browsersMessage()}},
                &shown);
}

}  // namespace

ServiceAddressField serviceAddressField(const std::optional<std::string>& environment,
                                        const std::optional<std::string>& stored) {
    const std::string whenChanged = "A changed address is used from the next start.";
    if (environment) {
        return {*environment, true,
                std::string(ServiceAddress::variable) + " is set: it overrides this field. " + whenChanged};
    }
    return {stored.value_or(""), false,
            "Empty for " + ServiceAddress::defaultAddress().page("") + ". " + whenChanged};
}

AddressChange changeServiceAddress(const std::string& typed) {
    if (typed.empty()) return {"", ""};
    const auto resolution = ServiceAddress::resolve(typed);
    if (resolution.refusal) {
        return {std::nullopt, "The service address \"" + typed + "\" " + resolution.reason + "; nothing was changed."};
    }
    return {resolution.address.page(""), ""};
}

void show() {
    window().present(currentState());
    if (E2E::enabled()) platform::services().runAfter(shownEventDelay, reportShown);
}

void registerAutomationCommands() {
    auto& commands = E2E::commands();
    commands.add("preferences", [](const std::string&) { show(); });
    commands.add("record-shortcut", [](const std::string&) {
        window().recordShortcut();
        E2E::report("shortcut-recording", {{"recording", window().isRecording()}, {"key", window().isKey()}});
    });
    commands.add("open-shortcut-settings", [](const std::string&) { window().clickShortcutSettings(); });
    commands.add("shortcut", [](const std::string& accelerator) { window().offerShortcut(accelerator); });
    commands.add("gnome-keybinding", [](const std::string&) { window().clickGnomeKeybinding(); });
    // Clicks a browser's "Set Up", then journals the section again.
    commands.add("set-up-browser", [](const std::string& key) {
        window().clickSetUpBrowser(key);
        platform::services().runAfter(changedEventDelay, reportShown);
    });
}

}  // namespace Preferences
