// Open and save panels as native file choosers (the desktop portal's where one is in use), modal
// to the main window.
#include <gtk/gtk.h>

#include <memory>

#include "platform/Dialogs.h"
#include "platform/gtk/ModalParent.h"

namespace platform {
namespace {

using Paths = std::vector<std::filesystem::path>;
using Finish = std::function<void(std::optional<Paths>)>;

// Shows the chooser and hands `finish` the chosen paths once it ends (nothing unless accepted).
// The chooser is released when it ends.
void show(GtkFileChooserNative* chooser, Finish finish) {
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    g_signal_connect_data(
        chooser, "response",
        G_CALLBACK(+[](GtkNativeDialog* chooser, int response, gpointer data) {
            std::optional<Paths> chosen;
            if (response == GTK_RESPONSE_ACCEPT) {
                chosen.emplace();
                GSList* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(chooser));
                for (GSList* file = files; file != nullptr; file = file->next) {
                    if (char* path = g_file_get_path(G_FILE(file->data))) {
                        chosen->emplace_back(path);
                        g_free(path);
                    }
                }
                g_slist_free_full(files, g_object_unref);
                if (chosen->empty()) chosen.reset();
            }
            (*static_cast<Finish*>(data))(std::move(chosen));
            g_object_unref(chooser);  // the reference taken when it was created
        }),
        new Finish(std::move(finish)), [](gpointer data, GClosure*) { delete static_cast<Finish*>(data); },
        GConnectFlags(0));
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

}  // namespace

void runOpenFileChooser(MainWindow& parent, const FileInputRequest& request,
                        std::function<void(std::optional<Paths>)> done) {
    // GTK 3 choosers pick either files or folders; an input that takes directories gets folders.
    const auto action = request.allowsDirectories ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN;
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new("Open", gtk::modalParent(parent), action, "Open", "Cancel");
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), request.allowsMultipleSelection);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
    show(chooser, std::move(done));
}

void runSaveFileChooser(MainWindow& parent, const std::string& suggestedName,
                        std::function<void(std::optional<std::filesystem::path>)> done) {
    GtkFileChooserNative* chooser =
        gtk_file_chooser_native_new("Save", gtk::modalParent(parent), GTK_FILE_CHOOSER_ACTION_SAVE, "Save", "Cancel");
    if (const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
        downloads != nullptr && g_file_test(downloads, G_FILE_TEST_IS_DIR)) {
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), downloads);
    }
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), suggestedName.c_str());
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), TRUE);
    show(chooser, [done = std::move(done)](std::optional<Paths> chosen) {
        if (!chosen) return done(std::nullopt);
        done(chosen->front());
    });
}

}  // namespace platform
