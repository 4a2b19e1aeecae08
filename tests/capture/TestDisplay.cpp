#include "tests/capture/TestDisplay.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

bool activateWindow(unsigned long window) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    const Window active = window;
    XChangeProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW,
                    32, PropModeReplace, reinterpret_cast<const unsigned char*>(&active), 1);
    XRaiseWindow(display, active);
    XSetInputFocus(display, active, RevertToParent, CurrentTime);
    XCloseDisplay(display);  // flushes the requests
    return true;
}
