#include "platform/Desktop.h"

#include <gtk/gtk.h>

namespace platform {

std::optional<Rect> mainScreenVisibleFrame() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return std::nullopt;
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
    if (monitor == nullptr) return std::nullopt;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return Rect{double(area.x), double(area.y), double(area.width), double(area.height)};
}

std::optional<std::string> clipboardText() {
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    gchar* text = gtk_clipboard_wait_for_text(clipboard);
    if (text == nullptr) return std::nullopt;
    std::string result(text);
    g_free(text);
    return result;
}

void openWithDefaultHandler(const std::string& url) {
    g_app_info_launch_default_for_uri_async(url.c_str(), nullptr, nullptr, nullptr, nullptr);
}

void sendNotification(const std::string& id, const std::string& title) {
    GApplication* application = g_application_get_default();
    if (application == nullptr || !g_application_get_is_registered(application)) return;
    GNotification* notification = g_notification_new(title.c_str());
    g_application_send_notification(application, id.c_str(), notification);
    g_object_unref(notification);
}

}  // namespace platform
