#include "bench/XDisplay.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace bench {
namespace {

// The benchmark polls windows that may vanish between two calls: such errors are expected.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

std::optional<std::string> utf8Property(Display* display, Window window, const char* name) {
    const Atom property = XInternAtom(display, name, False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, utf8, &type, &format, &count, &after, &data) !=
            Success ||
        data == nullptr) {
        return std::nullopt;
    }
    std::string text(reinterpret_cast<char*>(data), count);
    XFree(data);
    return text;
}

std::optional<std::string> titleOf(Display* display, Window window) {
    if (auto title = utf8Property(display, window, "_NET_WM_NAME")) return title;
    char* name = nullptr;
    if (XFetchName(display, window, &name) == 0 || name == nullptr) return std::nullopt;
    std::string text(name);
    XFree(name);
    return text;
}

}  // namespace

XDisplay::XDisplay(const std::string& name) : display_(XOpenDisplay(name.c_str())) {
    if (display_ == nullptr) throw std::runtime_error("cannot open display " + name);
    XSetErrorHandler(ignoreErrors);
}

XDisplay::~XDisplay() { XCloseDisplay(display_); }

std::optional<unsigned long> XDisplay::windowTitled(const std::string& title) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count) == 0) return std::nullopt;
    std::vector<Window> windows(children, children + count);
    if (children != nullptr) XFree(children);
    for (Window window : windows) {
        if (titleOf(display_, window) == title) return window;
    }
    return std::nullopt;
}

bool XDisplay::viewable(unsigned long window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display_, window, &attributes) != 0 && attributes.map_state == IsViewable;
}

std::optional<unsigned long> XDisplay::waitViewable(const std::string& title, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::optional<unsigned long> window;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!window) window = windowTitled(title);
        if (window && viewable(*window)) return window;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return std::nullopt;
}

bool XDisplay::waitHidden(unsigned long window, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!viewable(window)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void XDisplay::pressKey(const std::string& key, std::initializer_list<const char*> modifiers) {
    auto code = [this](const char* name) { return XKeysymToKeycode(display_, XStringToKeysym(name)); };
    for (const char* modifier : modifiers) XTestFakeKeyEvent(display_, code(modifier), True, CurrentTime);
    XTestFakeKeyEvent(display_, code(key.c_str()), True, CurrentTime);
    XFlush(display_);
    XTestFakeKeyEvent(display_, code(key.c_str()), False, CurrentTime);
    for (const char* modifier : modifiers) XTestFakeKeyEvent(display_, code(modifier), False, CurrentTime);
    XFlush(display_);
}

void XDisplay::focus(unsigned long window) {
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    XSync(display_, False);
}

void XDisplay::close(unsigned long window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XSync(display_, False);
}

}  // namespace bench
