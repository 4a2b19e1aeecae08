// Page script dialogs (alert, confirmation, text input) as GTK message dialogs modal to the main
// window.
#include <gtk/gtk.h>

#include <memory>

#include "platform/Dialogs.h"
#include "platform/gtk/ModalParent.h"

namespace platform {
namespace {

// Called once with the response that ended the dialog (a dialog destroyed some other way counts as
// closed), while the dialog still exists; the dialog is destroyed right after.
using Finish = std::function<void(int response, GtkWidget* dialog)>;

struct DialogState {
    Finish finish;
    bool finished = false;

    void end(int response, GtkWidget* dialog) {
        if (finished) return;
        finished = true;
        finish(response, dialog);
    }
};

GtkWidget* messageDialog(MainWindow& owner, const std::string& text) {
    GtkWindow* parent = gtk::modalParent(owner);
    GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s",
                                               text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "");
    if (parent != nullptr) gtk_window_group_add_window(gtk_window_get_group(parent), GTK_WINDOW(dialog));
    return dialog;
}

void show(GtkWidget* dialog, Finish finish) {
    auto* state = new DialogState{std::move(finish)};
    g_signal_connect_data(
        dialog, "response",
        G_CALLBACK(+[](GtkDialog* dialog, int response, gpointer data) {
            static_cast<DialogState*>(data)->end(response, GTK_WIDGET(dialog));
            gtk_widget_destroy(GTK_WIDGET(dialog));
        }),
        state, [](gpointer data, GClosure*) { delete static_cast<DialogState*>(data); }, GConnectFlags(0));
    g_signal_connect(dialog, "destroy", G_CALLBACK(+[](GtkWidget* dialog, gpointer data) {
                         static_cast<DialogState*>(data)->end(GTK_RESPONSE_DELETE_EVENT, dialog);
                     }),
                     state);
    gtk_widget_show(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
}

// "OK" first, then "Cancel"; Return answers "OK".
void addOkCancel(GtkWidget* dialog) {
    gtk_dialog_add_button(GTK_DIALOG(dialog), "OK", GTK_RESPONSE_OK);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "Cancel", GTK_RESPONSE_CANCEL);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
}

// The prompt labels the field for assistive technologies, and is its accessible name.
void nameAfterPrompt(GtkWidget* dialog, GtkWidget* field, const std::string& prompt) {
    GList* children = gtk_container_get_children(
        GTK_CONTAINER(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog))));
    if (children != nullptr && GTK_IS_LABEL(children->data)) gtk_label_set_mnemonic_widget(GTK_LABEL(children->data), field);
    g_list_free(children);
    atk_object_set_name(gtk_widget_get_accessible(field), prompt.c_str());
}

}  // namespace

void runAlertDialog(MainWindow& parent, const std::string& message, std::function<void()> done) {
    GtkWidget* dialog = messageDialog(parent, message);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "OK", GTK_RESPONSE_OK);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    show(dialog, [done = std::move(done)](int, GtkWidget*) { done(); });
}

void runConfirmDialog(MainWindow& parent, const std::string& message, std::function<void(bool)> done) {
    GtkWidget* dialog = messageDialog(parent, message);
    addOkCancel(dialog);
    show(dialog, [done = std::move(done)](int response, GtkWidget*) { done(response == GTK_RESPONSE_OK); });
}

void runTextInputDialog(MainWindow& parent, const std::string& prompt, const std::optional<std::string>& defaultText,
                        std::function<void(std::optional<std::string>)> done) {
    GtkWidget* dialog = messageDialog(parent, prompt);
    addOkCancel(dialog);
    GtkWidget* field = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(field), defaultText.value_or("").c_str());
    gtk_widget_set_size_request(field, 300, 24);
    gtk_widget_set_halign(field, GTK_ALIGN_START);
    gtk_entry_set_activates_default(GTK_ENTRY(field), TRUE);
    gtk_box_pack_start(GTK_BOX(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog))), field, FALSE, FALSE,
                       0);
    gtk_widget_show(field);
    nameAfterPrompt(dialog, field, prompt);
    show(dialog, [done = std::move(done), field](int response, GtkWidget*) {
        if (response != GTK_RESPONSE_OK) return done(std::nullopt);
        done(std::string(gtk_entry_get_text(GTK_ENTRY(field))));
    });
    gtk_widget_grab_focus(field);
}

}  // namespace platform
