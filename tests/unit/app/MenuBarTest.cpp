#include <gtest/gtest.h>

#include <set>

#include "app/MenuBar.h"

namespace {

TEST(MenuBar, ShortcutsAreDistinct) {
    std::set<std::string> seen;
    for (const auto& menu : MenuBar::build({})) {
        for (const auto& item : menu.items) {
            if (item.shortcut.key.empty()) continue;
            const auto& s = item.shortcut;
            EXPECT_TRUE(seen.insert(s.key + (s.alt ? "+alt" : "") + (s.shift ? "+shift" : "")).second) << item.title;
        }
    }
    EXPECT_GE(seen.size(), 15u);
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
