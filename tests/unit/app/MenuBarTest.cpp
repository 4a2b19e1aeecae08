#include <gtest/gtest.h>

#include "app/MenuBar.h"

namespace {

std::string describe(const platform::MenuItem& item) {
    if (item.separator) return "---";
    std::string text = item.title;
    if (!item.shortcut.key.empty()) {
        text += " [Ctrl+";
        if (item.shortcut.alt) text += "Alt+";
        if (item.shortcut.shift) text += "Shift+";
        text += item.shortcut.key + "]";
    }
    return text;
}

TEST(MenuBar, MenusItemsAndShortcuts) {
    const auto menus = MenuBar::build({});
    std::vector<std::string> lines;
    for (const auto& menu : menus) {
        lines.push_back("# " + menu.title);
        for (const auto& item : menu.items) lines.push_back(describe(item));
    }
    const std::vector<std::string> expected{
        "# Tolvar", "About Tolvar", "Check for Updates…", "Start at Login", "Preferences… [Ctrl+comma]", "---", "Hide Tolvar [Ctrl+h]", "---", "Quit Tolvar [Ctrl+q]",
        "# Bookmarks", "Quick Save Current Page…", "New Bookmark [Ctrl+n]",
        "Save Clipboard URL [Ctrl+Shift+b]",
        "# Edit", "Undo [Ctrl+z]", "Redo [Ctrl+Shift+z]", "---", "Cut [Ctrl+x]", "Copy [Ctrl+c]", "Paste [Ctrl+v]",
        "Select All [Ctrl+a]",
        "# View", "Reload [Ctrl+r]", "---", "Back [Ctrl+bracketleft]", "Forward [Ctrl+bracketright]", "---",
        "Zoom In [Ctrl+plus]", "Zoom Out [Ctrl+minus]", "Actual Size [Ctrl+0]",
        "# Window", "Minimize [Ctrl+m]", "Zoom"};
    EXPECT_EQ(lines, expected);
}

TEST(MenuBar, ProgramCommandsReachTheirActions) {
    std::vector<std::string> called;
    auto record = [&](std::string name) { return [&called, name] { called.push_back(name); }; };
    MenuBar::Actions actions{.quickSave = record("quickSave"), .checkForUpdates = record("checkForUpdates"),
                             .preferences = record("preferences"),
                             .startsAtLogin = [] { return true; }, .toggleStartAtLogin = record("toggleStartAtLogin"),
                             .newBookmark = record("newBookmark"), .saveClipboardURL = record("saveClipboardURL"),
                             .reloadPage = record("reloadPage"), .goBack = record("goBack"),
                             .goForward = record("goForward"), .zoomIn = record("zoomIn"),
                             .zoomOut = record("zoomOut"), .zoomReset = record("zoomReset")};
    for (const auto& menu : MenuBar::build(actions)) {
        for (const auto& item : menu.items) {
            if (item.action) item.action();
        }
    }
    const std::vector<std::string> expected{"checkForUpdates", "toggleStartAtLogin", "preferences", "quickSave", "newBookmark", "saveClipboardURL",
                                            "reloadPage", "goBack", "goForward", "zoomIn", "zoomOut", "zoomReset"};
    EXPECT_EQ(called, expected);

    // A command that is not wired yet is shown disabled rather than doing nothing.
    for (const auto& menu : MenuBar::build({})) {
        for (const auto& item : menu.items) {
            if (!item.separator && item.standard == platform::StandardAction::none) {
                EXPECT_FALSE(item.enabled) << item.title;
            }
        }
    }
}

}  // namespace
