#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "platform/Menu.h"

namespace MenuBar {

// The program's own menu commands. An empty function leaves its item present but disabled.
struct Actions {
    std::function<void()> quickSave;
    std::function<void()> checkForUpdates;
    std::function<void()> preferences;
    std::function<bool()> startsAtLogin;       // the state "Start at Login" shows
    std::function<void()> toggleStartAtLogin;
    std::function<void()> newBookmark;
    std::function<void()> saveClipboardURL;
    std::function<void()> reloadPage;
    std::function<void()> goBack;
    std::function<void()> goForward;
    std::function<void()> zoomIn;
    std::function<void()> zoomOut;
    std::function<void()> zoomReset;
};

// The key of the Bookmarks menu's quick-save item, whose title names the shortcut in effect.
inline constexpr std::string_view quickSaveItemKey = "quick-save";

// The main window's menus: Tolvar, Bookmarks, Edit, View and Window.
std::vector<platform::Menu> build(const Actions& actions);

}  // namespace MenuBar
