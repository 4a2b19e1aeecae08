#include "platform/PageCapture.h"

#include <X11/Xatom.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

namespace platform {
namespace {

bool ownWindowIsActive() {
    GList* windows = gtk_window_list_toplevels();
    bool active = false;
    for (GList* item = windows; item != nullptr && !active; item = item->next) {
        active = gtk_window_is_active(GTK_WINDOW(item->data));
    }
    g_list_free(windows);
    return active;
}

// One 32-bit item of a window property (served as a long by Xlib), or nothing.
std::optional<unsigned long> windowPropertyItem(Display* xdisplay, Window window, const char* name, Atom kind) {
    const Atom property = XInternAtom(xdisplay, name, True);
    if (property == None) return std::nullopt;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status =
        XGetWindowProperty(xdisplay, window, property, 0, 1, False, kind, &type, &format, &count, &remaining, &data);
    std::optional<unsigned long> item;
    if (status == Success && data != nullptr && count == 1 && format == 32) {
        item = *reinterpret_cast<unsigned long*>(data);
    }
    if (data != nullptr) XFree(data);
    return item;
}

// The window the window manager reports as active.
Window activeWindow(GdkDisplay* display) {
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    const auto active = windowPropertyItem(xdisplay, DefaultRootWindow(xdisplay), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    return active ? static_cast<Window>(*active) : None;
}

// The process that owns the active window, as the window announces it; 0 when unknown.
pid_t activeWindowProcess() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return 0;
    gdk_x11_display_error_trap_push(display);
    pid_t pid = 0;
    if (const Window active = activeWindow(display); active != None) {
        const auto item = windowPropertyItem(GDK_DISPLAY_XDISPLAY(display), active, "_NET_WM_PID", XA_CARDINAL);
        if (item && *item > 0 && *item < 0x400000) pid = static_cast<pid_t>(*item);
    }
    gdk_x11_display_error_trap_pop_ignored(display);
    return pid;
}

// The class of the window the window manager reports as active.
std::optional<std::string> activeWindowClass() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return std::nullopt;
    Display* xdisplay = GDK_DISPLAY_XDISPLAY(display);
    gdk_x11_display_error_trap_push(display);
    const Window active = activeWindow(display);
    std::optional<std::string> result;
    XClassHint hint{};
    if (active != None && XGetClassHint(xdisplay, active, &hint)) {
        if (hint.res_class != nullptr) result = hint.res_class;
        if (hint.res_name != nullptr) XFree(hint.res_name);
        if (hint.res_class != nullptr) XFree(hint.res_class);
    }
    gdk_x11_display_error_trap_pop_ignored(display);
    return result;
}

}  // namespace

ActiveWindow activeWindow() {
    GdkDisplay* display = gdk_display_get_default();
    return {.ours = ownWindowIsActive(),
            .othersHidden = display != nullptr && !GDK_IS_X11_DISPLAY(display),
            .windowClass = activeWindowClass(),
            .process = activeWindowProcess()};
}

}  // namespace platform
