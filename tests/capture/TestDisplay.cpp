#include "tests/capture/TestDisplay.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// A window may vanish between listing and asking: such errors are expected, not fatal.
extern "C" int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

Display* xdisplay(void* display) { return static_cast<Display*>(display); }

}  // namespace

TestDisplay::TestDisplay() : display_(XOpenDisplay(nullptr)) { XSetErrorHandler(ignoreXErrors); }

TestDisplay::~TestDisplay() {
    if (display_ != nullptr) XCloseDisplay(xdisplay(display_));
}

std::optional<unsigned long> TestDisplay::findWindow(const std::string& windowClass, const std::string& part) {
    Display* d = xdisplay(display_);
    Window root = DefaultRootWindow(d);
    Window parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    std::optional<unsigned long> found;
    if (!XQueryTree(d, root, &root, &parent, &children, &count)) return found;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(d, children[i], &attributes) || attributes.map_state != IsViewable) continue;
        XClassHint hint{};
        bool classMatches = false;
        if (XGetClassHint(d, children[i], &hint)) {
            classMatches = hint.res_class != nullptr && windowClass == hint.res_class;
            if (hint.res_name != nullptr) XFree(hint.res_name);
            if (hint.res_class != nullptr) XFree(hint.res_class);
        }
        if (classMatches && title(children[i]).find(part) != std::string::npos) found = children[i];
    }
    if (children != nullptr) XFree(children);
    return found;
}

void TestDisplay::activate(unsigned long window) {
    Display* d = xdisplay(display_);
    const Window root = DefaultRootWindow(d);
    const Window active = window;
    XChangeProperty(d, root, XInternAtom(d, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&active), 1);
    XRaiseWindow(d, active);
    XSetInputFocus(d, active, RevertToParent, CurrentTime);
    XSync(d, False);
}

std::string TestDisplay::title(unsigned long window) {
    Display* d = xdisplay(display_);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(d, window, XInternAtom(d, "_NET_WM_NAME", False), 0, 4096, False,
                           XInternAtom(d, "UTF8_STRING", False), &type, &format, &count, &remaining,
                           &data) == Success &&
        data != nullptr) {
        text.assign(reinterpret_cast<const char*>(data), count);
    }
    if (data != nullptr) XFree(data);
    return text;
}
