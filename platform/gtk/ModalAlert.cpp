#include "platform/ModalAlert.h"

#include <gtk/gtk.h>

namespace platform {
namespace {

// The application's active window, so the alert sits above it.
GtkWindow* activeWindow() {
    GApplication* application = g_application_get_default();
    if (application == nullptr || !GTK_IS_APPLICATION(application)) return nullptr;
    return gtk_application_get_active_window(GTK_APPLICATION(application));
}

}  // namespace

int runModalAlert(const AlertContent& alert) {
    GtkWindow* parent = activeWindow();
    GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_NONE, "%s",
                                               alert.message.c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", alert.informative.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "Tolvar");
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        gtk_dialog_add_button(GTK_DIALOG(dialog), alert.buttons[i].c_str(), static_cast<gint>(i));
    }
    if (!alert.buttons.empty()) gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);
    // Application-modal: the dialog grabs input for the whole application until it ends.
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return (response >= 0 && static_cast<std::size_t>(response) < alert.buttons.size()) ? response : -1;
}

}  // namespace platform
