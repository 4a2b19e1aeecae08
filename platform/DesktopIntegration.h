#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Menu.h"

namespace platform {

// Registers a system-wide hot key (an accelerator such as "<Ctrl><Alt>B"). False when the desktop
// does not allow it (no X11, or another program holds the key). The handler runs on the main loop.
bool registerGlobalHotKey(const std::string& accelerator, std::function<void()> handler);

// Puts up the status (tray) item with this program's icon, a tooltip and a menu. Items with a
// standard quit action end the application.
void installStatusItem(const std::string& id, const std::string& tooltip, const std::vector<MenuItem>& menu);

}  // namespace platform
