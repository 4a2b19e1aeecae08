#include "platform/gtk/ModalParent.h"

#include "platform/glib/GObjectPtr.h"
#include "platform/gtk/GtkWebView.h"

namespace platform::gtk {

GtkWindow* modalParent(MainWindow& window) {
    auto* webView = dynamic_cast<GtkWebView*>(&window.webView());
    if (webView == nullptr) return nullptr;
    GtkWidget* toplevel = gtk_widget_get_toplevel(webView->widget());
    if (!GTK_IS_WINDOW(toplevel)) return nullptr;
    GtkWindow* parent = GTK_WINDOW(toplevel);
    if (!gtk_window_has_group(parent)) {
        // The window keeps a reference of its own.
        const GObjectPtr<GtkWindowGroup> group(gtk_window_group_new());
        gtk_window_group_add_window(group.get(), parent);
    }
    return parent;
}

}  // namespace platform::gtk
