#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace platform {

// What a browser answered about its front page: address and title.
struct CapturedPage {
    std::string address;
    std::string title;
};

// What the window system tells of the window that has the focus.
struct ActiveWindow {
    // One of this program's own windows is active.
    bool ours = false;
    // The window system keeps other programs' windows from us (Wayland): nothing below is known.
    bool othersHidden = false;
    // The active window's class (WM_CLASS), when another program's window can be read.
    std::optional<std::string> windowClass;
    // The process that owns the active window, as the window announces it; 0 when unknown.
    pid_t process = 0;
};

// Reads the active window from the window system (X11's _NET_ACTIVE_WINDOW). Main thread only.
ActiveWindow activeWindow();

}  // namespace platform
