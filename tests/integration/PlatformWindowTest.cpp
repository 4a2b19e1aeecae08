// The platform's windows against the real toolkit and web engine: window pictures, the quick-save
// panel, and page dialogs and file panels (their texts, buttons, field, answers, and that they block
// the main window only).
#include <cairo.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <map>
#include <mutex>
#include <set>

#include "platform/Dialogs.h"
#include "platform/MainWindow.h"
#include "platform/QuickSavePanel.h"
#include "tests/support/AppProcess.h"
#include "tests/support/MainLoop.h"
#include "tests/support/LoopbackHttpServer.h"

namespace {

using testsupport::runMainLoopUntil;

using testsupport::HttpRequest;
using testsupport::HttpResponse;
namespace fs = std::filesystem;

// Hands the page's dialogs to the platform's dialogs on the main window, as the application does.
class DialogHost : public platform::WebViewDelegate {
public:
    platform::NavigationDecision decideNavigation(const platform::NavigationAction&) override {
        return platform::NavigationDecision::allow;
    }
    platform::NavigationDecision decideResponse(const platform::NavigationResponse&) override {
        return platform::NavigationDecision::allow;
    }
    void newWindowRequested(const platform::NavigationAction&) override {}
    void loadFinished() override { loaded = true; }
    void runAlert(const std::string& message, std::function<void()> done) override {
        platform::runAlertDialog(*window, message, std::move(done));
    }
    void runConfirm(const std::string& message, std::function<void(bool)> done) override {
        platform::runConfirmDialog(*window, message, std::move(done));
    }
    void runPrompt(const std::string& prompt, const std::optional<std::string>& defaultText,
                   std::function<void(std::optional<std::string>)> done) override {
        platform::runTextInputDialog(*window, prompt, defaultText, std::move(done));
    }
    platform::MainWindow* window = nullptr;
    bool loaded = false;
};

// Compares addresses only: `window` may be gone already.
bool isToplevel(gconstpointer window) {
    GList* all = gtk_window_list_toplevels();
    const bool found = g_list_find(all, window) != nullptr;
    g_list_free(all);
    return found;
}

// The visible toplevel window that `matches`, waiting for one; nullptr when none came.
template <typename Test>
GtkWindow* waitForToplevel(Test matches) {
    GtkWindow* found = nullptr;
    runMainLoopUntil([&] {
        GList* all = gtk_window_list_toplevels();
        for (GList* item = all; item != nullptr; item = item->next) {
            if (gtk_widget_get_visible(GTK_WIDGET(item->data)) && matches(GTK_WINDOW(item->data))) found = GTK_WINDOW(item->data);
        }
        g_list_free(all);
        return found != nullptr;
    });
    return found;
}

std::vector<std::string> buttonLabels(GtkWidget* dialog) {
    std::vector<std::string> labels;
    GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    if (ok == nullptr) return labels;
    GList* buttons = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(ok)));
    for (GList* item = buttons; item != nullptr; item = item->next) {
        if (GTK_IS_BUTTON(item->data)) labels.emplace_back(gtk_button_get_label(GTK_BUTTON(item->data)));
    }
    g_list_free(buttons);
    return labels;
}

GtkEntry* fieldOf(GtkWidget* dialog) {
    GtkEntry* entry = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog))));
    for (GList* item = children; item != nullptr; item = item->next) {
        if (GTK_IS_ENTRY(item->data)) entry = GTK_ENTRY(item->data);
    }
    g_list_free(children);
    return entry;
}

std::string messageOf(GtkWidget* dialog) {
    gchar* text = nullptr;
    g_object_get(dialog, "text", &text, nullptr);
    std::string result = text != nullptr ? text : "";
    g_free(text);
    return result;
}

// What assistive technologies read for a widget: its accessible name and the text of the widget
// that labels it.
struct AccessibleLabel {
    std::string name;
    std::string labelledBy;
    bool operator==(const AccessibleLabel&) const = default;
};

AccessibleLabel accessibleLabelOf(GtkWidget* widget) {
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    AccessibleLabel result{atk_object_get_name(accessible) ? atk_object_get_name(accessible) : "", ""};
    AtkRelationSet* relations = atk_object_ref_relation_set(accessible);
    if (AtkRelation* relation = atk_relation_set_get_relation_by_type(relations, ATK_RELATION_LABELLED_BY)) {
        GPtrArray* targets = atk_relation_get_target(relation);
        if (targets->len > 0) {
            const char* name = atk_object_get_name(ATK_OBJECT(g_ptr_array_index(targets, 0)));
            result.labelledBy = name != nullptr ? name : "";
        }
    }
    g_object_unref(relations);
    return result;
}

template <typename Visit>
void forEachDescendant(GtkWidget* widget, const Visit& visit) {
    visit(widget);
    if (!GTK_IS_CONTAINER(widget)) return;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* item = children; item != nullptr; item = item->next) forEachDescendant(GTK_WIDGET(item->data), visit);
    g_list_free(children);
}

// One application, main window and second window for the whole program: GTK allows one
// application registration per process.
class PlatformWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new testsupport::TemporaryFolder;
        app = Gtk::Application::create("app.tolvar.dialogs-test", Gio::APPLICATION_NON_UNIQUE);
        app->register_application();
        platform::MainWindowOptions options{.contentRect = {0, 0, 800, 600}, .title = "Tolvar",
                                            .minimumSize = {200, 200}, .menus = {{"Tolvar", {{.title = "Quit"}}}},
                                            .userAgentApplicationName = "TolvarDesktop/0 (Linux)",
                                            .ephemeralWebData = true, .dataDirectory = folder->path()};
        host = new DialogHost;
        window = platform::createMainWindow(options, *host).release();
        host->window = window;
        window->present();
        mainWindow = waitForToplevel([](GtkWindow* w) { return g_strcmp0(gtk_window_get_title(w), "Tolvar") == 0; });
        // Another window of the application, standing for the quick-save panel.
        other = new Gtk::Window;
        other->set_title("Other window");
        other->show();
    }

    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }

    void SetUp() override { ASSERT_NE(mainWindow, nullptr); }

    // The dialog now up, modal to the main window only.
    GtkWidget* expectModalDialog() {
        GtkWindow* dialog = waitForToplevel([](GtkWindow* w) { return GTK_IS_MESSAGE_DIALOG(w); });
        if (dialog == nullptr) return nullptr;
        EXPECT_TRUE(gtk_window_get_modal(dialog));
        EXPECT_EQ(gtk_window_get_transient_for(dialog), mainWindow);
        // The dialog's grab holds the main window's group; the other window's group has none.
        EXPECT_EQ(gtk_window_group_get_current_grab(gtk_window_get_group(mainWindow)), GTK_WIDGET(dialog));
        EXPECT_EQ(gtk_window_group_get_current_grab(gtk_window_get_group(other->gobj())), nullptr)
            << "the other window stays usable";
        return GTK_WIDGET(dialog);
    }

    void click(GtkWidget* dialog, int response) {
        GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), response);
        ASSERT_NE(button, nullptr);
        gtk_button_clicked(GTK_BUTTON(button));
        EXPECT_FALSE(isToplevel(dialog)) << "the dialog is gone once answered";
    }

    // Kept until the process ends: the web engine's processes and the toolkit outlive each test.
    static inline testsupport::TemporaryFolder* folder = nullptr;
    static inline Glib::RefPtr<Gtk::Application> app;
    static inline DialogHost* host = nullptr;
    static inline platform::MainWindow* window = nullptr;
    static inline GtkWindow* mainWindow = nullptr;
    static inline Gtk::Window* other = nullptr;
};

// The fallback chooser (no desktop portal runs here) that GTK shows for a native one.
GtkFileChooser* waitForChooser() {
    GtkWindow* chooser = waitForToplevel([](GtkWindow* w) { return GTK_IS_FILE_CHOOSER_DIALOG(w); });
    return chooser != nullptr ? GTK_FILE_CHOOSER(chooser) : nullptr;
}

TEST_F(PlatformWindowTest, DialogsAndFilePanelsShowWhatTheyAskAndAnswerAsTheUserChose) {
    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> answers;
    testsupport::LoopbackHttpServer server([&](const HttpRequest& request) {
        if (request.target.starts_with("/answer/")) {
            std::lock_guard lock(mutex);
            const auto rest = request.target.substr(8);
            const auto slash = rest.find('/');
            answers.emplace_back(rest.substr(0, slash), rest.substr(slash + 1));
            return HttpResponse{.body = "ok"};
        }
        return HttpResponse{
            .body = "<!doctype html><script>"
                    "const report = (step, value) => fetch('/answer/' + step + '/' + encodeURIComponent(JSON.stringify("
                    " value === undefined ? 'undefined' : value)));"
                    "window.addEventListener('load', () => setTimeout(async () => {"
                    " await report('alert', alert('Saved.'));"
                    " await report('confirm-ok', confirm('Delete this bookmark?'));"
                    " await report('confirm-cancel', confirm('Delete this one too?'));"
                    " await report('prompt-ok', prompt('New name?', 'Reading list'));"
                    " await report('prompt-cancel', prompt('Tag?', 'kept'));"
                    "}, 50));</script>"};
    });
    window->webView().load(server.url("/page"), 30);
    auto answerOf = [&](const std::string& step) {
        std::optional<std::string> found;
        runMainLoopUntil([&] {
            std::lock_guard lock(mutex);
            for (const auto& [name, value] : answers) {
                if (name == step) found = value;
            }
            return found.has_value();
        });
        return found.value_or("(no answer)");
    };

    const struct {
        const char* step;
        std::string message;
        std::vector<std::string> buttons;
        const char* field;  // its default text; nullptr: no field
        const char* typed;
        int response;
        const char* answer;
    } dialogs[] = {
        {"alert", "Saved.", {"OK"}, nullptr, nullptr, GTK_RESPONSE_OK, "%22undefined%22"},
        {"confirm-ok", "Delete this bookmark?", {"OK", "Cancel"}, nullptr, nullptr, GTK_RESPONSE_OK, "true"},
        {"confirm-cancel", "Delete this one too?", {"OK", "Cancel"}, nullptr, nullptr, GTK_RESPONSE_CANCEL, "false"},
        {"prompt-ok", "New name?", {"OK", "Cancel"}, "Reading list", "Later, maybe", GTK_RESPONSE_OK,
         "%22Later%2C%20maybe%22"},
        {"prompt-cancel", "Tag?", {"OK", "Cancel"}, "kept", nullptr, GTK_RESPONSE_CANCEL, "null"},
    };
    for (const auto& expected : dialogs) {
        SCOPED_TRACE(expected.step);
        GtkWidget* dialog = expectModalDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(messageOf(dialog), expected.message);
        EXPECT_EQ(buttonLabels(dialog), expected.buttons);
        GtkEntry* field = fieldOf(dialog);
        ASSERT_EQ(field != nullptr, expected.field != nullptr);
        if (field != nullptr) {
            EXPECT_STREQ(gtk_entry_get_text(field), expected.field);
            EXPECT_EQ(accessibleLabelOf(GTK_WIDGET(field)), (AccessibleLabel{expected.message, expected.message}));
            if (expected.typed != nullptr) gtk_entry_set_text(field, expected.typed);
        }
        click(dialog, expected.response);
        EXPECT_EQ(answerOf(expected.step), expected.answer);
    }

    // The file panels: modal to the main window too, following the request, answering the choice.
    const struct {
        platform::FileInputRequest request;
        GtkFileChooserAction action;
    } cases[] = {
        {{.allowsMultipleSelection = false, .allowsDirectories = false}, GTK_FILE_CHOOSER_ACTION_OPEN},
        {{.allowsMultipleSelection = true, .allowsDirectories = false}, GTK_FILE_CHOOSER_ACTION_OPEN},
        {{.allowsMultipleSelection = true, .allowsDirectories = true}, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER},
    };
    for (const auto& [request, action] : cases) {
        bool answered = false;
        std::optional<std::vector<fs::path>> files{std::vector<fs::path>{"not answered"}};
        platform::runOpenFileChooser(*window, request, [&](std::optional<std::vector<fs::path>> chosen) {
            answered = true;
            files = std::move(chosen);
        });
        GtkFileChooser* chooser = waitForChooser();
        ASSERT_NE(chooser, nullptr);
        EXPECT_EQ(gtk_file_chooser_get_action(chooser), action);
        EXPECT_EQ(gtk_file_chooser_get_select_multiple(chooser) != FALSE, request.allowsMultipleSelection);
        EXPECT_EQ(gtk_file_chooser_get_filter(chooser), nullptr) << "no file-type filter";
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(chooser)), mainWindow);
        EXPECT_EQ(gtk_window_group_get_current_grab(gtk_window_get_group(other->gobj())), nullptr);
        gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
        ASSERT_TRUE(runMainLoopUntil([&] { return answered; }));
        EXPECT_FALSE(files.has_value()) << "cancel gives no files";
    }

    // The save panel holds the suggested name and answers the chosen file.
    std::optional<fs::path> destination;
    bool answered = false;
    platform::runSaveFileChooser(*window, "report.pdf", [&](std::optional<fs::path> chosen) {
        answered = true;
        destination = std::move(chosen);
    });
    GtkFileChooser* chooser = waitForChooser();
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
    gchar* name = gtk_file_chooser_get_current_name(chooser);
    EXPECT_STREQ(name, "report.pdf");
    g_free(name);
    gtk_file_chooser_set_current_folder(chooser, folder->path().c_str());
    runMainLoopUntil([&] {
        gchar* current = gtk_file_chooser_get_current_folder(chooser);
        const bool there = current != nullptr && folder->path() == current;
        g_free(current);
        return there;
    });
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    ASSERT_TRUE(runMainLoopUntil([&] { return answered; }));
    EXPECT_EQ(destination, folder->path() / "report.pdf");
}

// The picture of a PNG, or a surface in an error state.
cairo_surface_t* decodePNG(const std::string& png) {
    std::string_view rest(png);
    return cairo_image_surface_create_from_png_stream(
        [](void* closure, unsigned char* data, unsigned int length) {
            auto& left = *static_cast<std::string_view*>(closure);
            if (left.size() < length) return CAIRO_STATUS_READ_ERROR;
            std::copy_n(left.data(), length, data);
            left.remove_prefix(length);
            return CAIRO_STATUS_SUCCESS;
        },
        &rest);
}

uint32_t pixel(cairo_surface_t* image, int x, int y) {
    const auto* row = cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
    return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
}

double statusHeight(const platform::QuickSavePanel& panel) {
    for (const auto& control : panel.controlFrames()) {
        if (control.name == "status") return control.frame.height;
    }
    return -1;
}

void settle() {
    while (g_main_context_iteration(nullptr, FALSE)) {}
}

class IgnoredPanelDelegate : public platform::QuickSavePanelDelegate {
public:
    void panelSave() override {}
    void panelCancel() override {}
};

TEST_F(PlatformWindowTest, QuickSavePanelIsNamedForAssistiveTechnologiesAndItsStatusStaysWithinTwoLines) {
    IgnoredPanelDelegate delegate;
    auto panel = platform::createQuickSavePanel(delegate);
    panel->present(platform::PanelField::url);
    GtkWindow* panelWindow =
        waitForToplevel([](GtkWindow* w) { return g_strcmp0(gtk_window_get_title(w), "Save to Tolvar") == 0; });
    ASSERT_NE(panelWindow, nullptr);

    std::vector<AccessibleLabel> fields;
    std::vector<std::string> mnemonics;
    GtkWidget* status = nullptr;
    forEachDescendant(GTK_WIDGET(panelWindow), [&](GtkWidget* widget) {
        if (GTK_IS_ENTRY(widget)) fields.push_back(accessibleLabelOf(widget));
        if (GTK_IS_LABEL(widget) && gtk_label_get_mnemonic_widget(GTK_LABEL(widget)) != nullptr) {
            mnemonics.push_back(gdk_keyval_name(gtk_label_get_mnemonic_keyval(GTK_LABEL(widget))));
        }
        if (atk_object_get_role(gtk_widget_get_accessible(widget)) == ATK_ROLE_STATUSBAR) status = widget;
    });
    EXPECT_EQ(fields, (std::vector<AccessibleLabel>{{"Page", "Page"}, {"Title", "Title"}, {"Tags", "Tags"}}));
    EXPECT_EQ(mnemonics, (std::vector<std::string>{"p", "t", "g"}));

    ASSERT_NE(status, nullptr) << "the status line is a status bar to assistive technologies";
    AtkObject* statusAccessible = gtk_widget_get_accessible(status);
    std::map<std::string, std::string> attributes;
    AtkAttributeSet* set = atk_object_get_attributes(statusAccessible);
    for (GSList* item = set; item != nullptr; item = item->next) {
        const auto* attribute = static_cast<AtkAttribute*>(item->data);
        attributes[attribute->name] = attribute->value;
    }
    atk_attribute_set_free(set);
    EXPECT_EQ(attributes["container-live"], "polite") << "screen readers speak its changes";
    EXPECT_EQ(attributes["live"], "polite");
    EXPECT_EQ(attributes["toolkit"], "gtk") << "the label's own attributes stay";

    std::vector<std::string> inserted;
    const gulong handler = g_signal_connect(
        statusAccessible, "text-changed::insert", G_CALLBACK(+[](AtkObject* accessible, int start, int length, gpointer data) {
            gchar* text = atk_text_get_text(ATK_TEXT(accessible), start, start + length);
            static_cast<std::vector<std::string>*>(data)->emplace_back(text);
            g_free(text);
        }),
        &inserted);
    panel->setStatus("Saving…", platform::StatusColour::secondary);
    panel->setStatus("Could not reach Tolvar.", platform::StatusColour::error);
    g_signal_handler_disconnect(statusAccessible, handler);
    EXPECT_EQ(inserted, (std::vector<std::string>{"Saving…", "Could not reach Tolvar."}));

    // A service's error message of many lines (a validation reply of JSON text) keeps the status line
    // at two lines and the panel at its size, and its picture, taken at once as for "save-result", is drawn.
    runMainLoopUntil([&] { return panel->frameSize().height > 1 && statusHeight(*panel) > 0; });
    settle();
    const auto size = panel->frameSize();
    const double oneLine = statusHeight(*panel);

    std::string message = "[\n  {\n    \"code\": \"too_big\",\n";
    for (int i = 0; i < 10; ++i) message += "    \"path\": [\"title\"],\r\n\n";
    message += "    \"message\": \"String must contain at most 512 character(s)\"\n  }\n]";
    panel->setStatus(message, platform::StatusColour::error);
    const auto png = panel->snapshotPNG();
    settle();
    EXPECT_EQ(panel->status(), message);
    EXPECT_LE(statusHeight(*panel), 2 * oneLine + 1);
    EXPECT_EQ(panel->frameSize().height, size.height);
    EXPECT_EQ(panel->frameSize().width, size.width);

    ASSERT_TRUE(png);
    cairo_surface_t* image = decodePNG(*png);
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_height(image), int(size.height));
    std::set<uint32_t> colours;
    for (int y = 0; y < cairo_image_surface_get_height(image); y += 2) {
        for (int x = 0; x < cairo_image_surface_get_width(image); x += 2) colours.insert(pixel(image, x, y));
    }
    EXPECT_GT(colours.size(), 8u) << "the picture is blank";
    cairo_surface_destroy(image);
    panel->hide();
}

// The main window's picture shows what the user sees: the menu bar on top and the page below it.
// A page script answers within its time limit; past it, it fails as timed out, and its late answer
// is dropped (the script queued behind it answers after it, so the late answer has come by then).
TEST_F(PlatformWindowTest, PageShowsBelowTheMenuBarAndItsScriptsEndAtTheirTimeLimit) {
    host->loaded = false;
    window->webView().load("data:text/html,<title>Scripts</title><body style='background:%23ff0000'></body>", 30);
    ASSERT_TRUE(runMainLoopUntil([&] { return host->loaded; }));
    // The picture once the page has painted.
    cairo_surface_t* image = nullptr;
    runMainLoopUntil([&] {
        if (image != nullptr) cairo_surface_destroy(image);
        image = decodePNG(window->snapshotPNG().value_or(""));
        return cairo_surface_status(image) == CAIRO_STATUS_SUCCESS && cairo_image_surface_get_height(image) > 300 &&
               pixel(image, 400, 300) == 0xff0000u;
    });
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(image), 800);
    EXPECT_EQ(cairo_image_surface_get_height(image), 600);
    EXPECT_NE(pixel(image, 400, 5), 0xff0000u) << "the menu bar is at the top";
    EXPECT_EQ(pixel(image, 400, 300), 0xff0000u) << "the page fills the rest";
    cairo_surface_destroy(image);

    std::vector<platform::ScriptResult> quick, slow, after;
    auto& view = window->webView();
    view.callAsyncJavaScript("return a * 7", {{"a", 6}}, 5, [&](platform::ScriptResult r) { quick.push_back(r); });
    view.callAsyncJavaScript("return await new Promise(r => setTimeout(() => r('late'), 700))", {}, 0.2,
                             [&](platform::ScriptResult r) { slow.push_back(r); });
    view.callAsyncJavaScript("return await new Promise(r => setTimeout(() => r('after'), 1200))", {}, 5,
                             [&](platform::ScriptResult r) { after.push_back(r); });
    ASSERT_TRUE(runMainLoopUntil([&] { return !after.empty(); }));
    ASSERT_EQ(quick.size(), 1u);
    EXPECT_EQ(quick[0].value, 42);
    ASSERT_EQ(slow.size(), 1u) << "a script ends once";
    EXPECT_FALSE(slow[0].succeeded);
    EXPECT_EQ(slow[0].error, "the script timed out");
    EXPECT_EQ(after[0].value, "after");
}

}  // namespace
