#pragma once

// Makes a window of the test's X display the active one, as a window manager does when the user
// clicks it: named in _NET_ACTIVE_WINDOW, raised and given the focus. (Xlib stays out of this
// header: its macros clash with GoogleTest's names.) False when the display cannot be opened.
bool activateWindow(unsigned long window);
