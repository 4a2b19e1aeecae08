/* The floor of this stack: one GTK window holding one WebKitGTK web view on the address given,
 * with the same renderer setting, page sandbox and window size as Tolvar, and like Tolvar only
 * hidden when its window is closed. Nothing else. */
#include <stdlib.h>
#include <webkit2/webkit2.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 0);
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "WebKitGTK host");
    gtk_window_set_default_size(GTK_WINDOW(window), 1088, 800);
    g_signal_connect(window, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), NULL);
    webkit_web_context_set_sandbox_enabled(webkit_web_context_get_default(), TRUE);
    GtkWidget* view = webkit_web_view_new();
    gtk_container_add(GTK_CONTAINER(window), view);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
