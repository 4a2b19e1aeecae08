#include "platform/gtk/ModalParent.h"

#include "platform/gtk/GtkWebView.h"

namespace platform::gtk {

GtkWindow* modalParent(MainWindow& window) {
    auto* webView = dynamic_cast<GtkWebView*>(&window.webView());
    if (webView == nullptr) return nullptr;
    GtkWidget* toplevel = gtk_widget_get_toplevel(webView->widget());
    if (!GTK_IS_WINDOW(toplevel)) return nullptr;
    GtkWindow* parent = GTK_WINDOW(toplevel);
    if (!gtk_window_has_group(parent)) {
        GtkWindowGroup* group = gtk_window_group_new();
        gtk_window_group_add_window(group, parent);
        g_object_unref(group);  // the window keeps it
    }
    return parent;
}

}  // namespace platform::gtk
