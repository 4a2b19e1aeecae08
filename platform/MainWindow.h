#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Geometry.h"
#include "platform/Menu.h"
#include "platform/SnapshotSource.h"
#include "platform/WebView.h"

namespace platform {

struct MainWindowOptions {
    Rect contentRect;
    std::string title;
    std::string applicationVersion;  // shown in the About panel
    Size minimumSize;
    std::vector<Menu> menus;
    // Appended to the web engine's own user agent, after a space.
    std::string userAgentApplicationName;
    // Ephemeral web data (nothing outlives the process) or a persistent store in `dataDirectory`.
    bool ephemeralWebData = false;
    std::filesystem::path dataDirectory;
    // Runs the web content in the web engine's sandbox.
    bool sandboxWebContent = true;
    // Called a moment after the window was moved or resized, with its new content rectangle; not
    // while it is maximised or full screen.
    std::function<void(const Rect&)> frameChanged;
    // Called when the window is shown or hidden (closing it hides it).
    std::function<void(bool visible)> visibilityChanged;
};

// The application's one window: a menu bar above a web view. Closing it only hides it.
class MainWindow : public SnapshotSource {
public:
    virtual WebView& webView() = 0;
    // Shows the window, raises it and gives it the keyboard focus.
    virtual void present() = 0;
    virtual bool isVisible() const = 0;
    // Hides the window as closing it does.
    virtual void hide() = 0;
    // The title of the menu item with that key (see MenuItem::key); nothing for an unknown key.
    virtual void setMenuItemTitle(const std::string& key, const std::string& title) = 0;
};

std::unique_ptr<MainWindow> createMainWindow(const MainWindowOptions& options, WebViewDelegate& delegate);

}  // namespace platform
