#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/DesktopIntegration.h"
#include "platform/GnomeKeybindings.h"
#include "platform/QuickSavePanel.h"
#include "platform/WebView.h"
#include "quicksave/QuickSaveShortcut.h"

// The quick-save feature: the global hot key, the status item, the "Save to Tolvar" panel and the
// save through the main window's signed-in web session. One instance for the process.
class QuickSaveController final : public platform::QuickSavePanelDelegate,
                                  public std::enable_shared_from_this<QuickSaveController> {
public:
    static QuickSaveController& shared();

    // Set by the application shell at launch.
    std::weak_ptr<platform::WebView> webView;
    std::function<void()> showMainWindow;
    // Told first whenever the panel is presented, so the page its scripts need can get ready.
    std::function<void()> panelPresented;
    // Shows the main window's quick-save menu title, which names the shortcut in effect.
    std::function<void(const std::string& title)> showQuickSaveMenuTitle;
    // Opens Preferences at its "Browsers" section.
    std::function<void()> showBrowserPreferences;

    // Takes the global shortcut (Ctrl+Alt+B on X11, the desktop portal's on Wayland), puts up the
    // status item, and registers the panel's automation commands.
    void install();

    // Captures the page in front (or takes the clipboard's address) and shows the panel.
    void present();
    void cancelPanel();
    void save();
    void fillTitle(const std::string& address);
    std::vector<std::string> clippedControls() const;

    // Automation: one synthesized key press in the panel.
    void key(const std::string& character, std::uint16_t code);

    // The X11 shortcut the user chose (QuickSaveControllerShortcut.cpp). A combination another
    // program holds, or one that would take a typing key, is refused with the message to show, and
    // the shortcut in use stays.
    struct ShortcutChange {
        bool accepted = false;
        std::string message;
    };
    ShortcutChange changeShortcut(const std::string& accelerator);
    // The shortcut in effect as shown, and where it comes from.
    std::optional<std::string> shortcutInEffect() const { return trigger_; }
    bool holdsX11Shortcut() const { return x11KeyHeld_; }
    bool bindsThroughPortal() const { return portalShortcut_ != nullptr; }
    bool portalBoundATrigger() const;
    bool portalOffersSettings() const;
    void openPortalSettings();
    // GNOME's own keyboard shortcuts, where nothing else gives a shortcut on a GNOME session
    // (QuickSaveControllerShortcut.cpp). Adding and removing answer the message to show, empty when done.
    bool offersGnomeKeybinding() const;
    bool hasGnomeKeybinding() const;
    std::string addGnomeKeybinding();
    std::string removeGnomeKeybinding();
    // Shows or hides the status item; whether it is wanted is kept under `statusItemSettingKey`
    // ("false" hides it, anything else shows it).
    static constexpr const char* statusItemSettingKey = "tolvar.showStatusIcon";
    static bool statusItemWanted();
    void showStatusItem(bool shown);

    void menuQuickSave() { present(); }
    void menuOpen();

    void panelSave() override { save(); }
    void panelCancel() override { cancelPanel(); }

private:
    struct Page {
        std::string address;
        std::string title;
    };

    // Shows the trigger in effect; the desktop's answers (portal, GNOME) are also journaled.
    void showTrigger(bool journaled);
    void followGnomeKeybinding();
    // The automation verbs "present", "type", "enter" and "esc".
    void registerCommands();
    bool grab(const QuickSaveShortcut::Combination& combination);
    void fillFromClipboardOnceFocused(unsigned presentation);
    std::optional<Page> capturePage(const std::optional<std::string>& front);
    void fill(const std::optional<Page>& page, const std::optional<std::string>& front);
    void schedulePresentedEvent(bool captured, const std::string& frontApp);
    void handleCreateReply(const platform::ScriptResult& result);
    void reportSaveResult(const std::string& outcome, std::optional<std::int64_t> http);
    void setStatus(const std::string& text, platform::StatusColour colour);
    std::string fieldText(platform::PanelField field) const;

    std::unique_ptr<platform::QuickSavePanel> panel_;
    std::unique_ptr<platform::StatusItem> statusItem_;
    std::unique_ptr<platform::PortalShortcut> portalShortcut_;
    std::optional<std::string> portalTrigger_;  // as the portal described it
    std::unique_ptr<platform::GnomeKeybindings> gnomeKeybindings_;
    std::optional<std::string> gnomeTrigger_;  // the binding of this program's GNOME entry
    bool x11KeyHeld_ = false;
    QuickSaveShortcut::Combination x11Combination_;  // the combination grabbed, or wanted when not held
    std::optional<std::string> trigger_;  // the shortcut in effect, as shown
    unsigned presentations_ = 0;
    bool saving_ = false;
    // The save whose reply is awaited; its reply, or its time limit, ends it, whichever comes first.
    std::optional<std::uint64_t> awaitedSave_;
    std::uint64_t saveCount_ = 0;
    std::optional<int> lastBrowserError_;
    void offerBrowserSetup(const std::optional<std::string>& front);
};
