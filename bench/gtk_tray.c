/* What a tray program costs on this stack without a web engine: one hidden GTK window, a status
 * item with a menu (libayatana-appindicator3) and a global key grab (keybinder). The key shows the
 * window. Nothing else. */
#include <gtk/gtk.h>
#include <keybinder.h>
#include <libayatana-appindicator/app-indicator.h>

static void show_window(const char* keystring, void* window) {
    (void)keystring;
    gtk_window_present(GTK_WINDOW(window));
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "GTK tray");
    gtk_window_set_default_size(GTK_WINDOW(window), 520, 260);
    g_signal_connect(window, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), NULL);
    gtk_container_add(GTK_CONTAINER(window), gtk_entry_new());

    GtkWidget* menu = gtk_menu_new();
    GtkWidget* open = gtk_menu_item_new_with_label("Open");
    GtkWidget* quit = gtk_menu_item_new_with_label("Quit");
    g_signal_connect_swapped(open, "activate", G_CALLBACK(gtk_window_present), window);
    g_signal_connect(quit, "activate", G_CALLBACK(gtk_main_quit), NULL);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), open);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), quit);
    gtk_widget_show_all(menu);
    AppIndicator* indicator =
        app_indicator_new("bench-gtk-tray", "edit-paste", APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
    app_indicator_set_menu(indicator, GTK_MENU(menu));
    app_indicator_set_status(indicator, APP_INDICATOR_STATUS_ACTIVE);

    keybinder_init();
    keybinder_bind("<Ctrl><Alt>B", show_window, window);
    gtk_main();
    return 0;
}
