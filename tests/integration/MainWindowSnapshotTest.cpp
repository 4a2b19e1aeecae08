#include <cairo.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <fstream>
#include <set>

#include "platform/MainWindow.h"
#include "platform/QuickSavePanel.h"
#include "tests/support/AppProcess.h"
#include "tests/support/MainLoop.h"

namespace {

using testsupport::runMainLoopUntil;

class LoadWatcher : public platform::WebViewDelegate {
public:
    platform::NavigationDecision decideNavigation(const platform::NavigationAction&) override {
        return platform::NavigationDecision::allow;
    }
    platform::NavigationDecision decideResponse(const platform::NavigationResponse&) override { return platform::NavigationDecision::allow; }
    void newWindowRequested(const platform::NavigationAction&) override {}
    void loadFinished() override { finished = true; }
    bool finished = false;
};

uint32_t pixel(cairo_surface_t* image, int x, int y) {
    const auto* row = cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
    return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
}

// A window picture shows what the user sees: the menu bar on top and the page below it.
TEST(MainWindowSnapshot, ShowsMenuBarAndPage) {
    testsupport::TemporaryFolder folder;
    auto app = Gtk::Application::create("app.tolvar.snapshot-test", Gio::APPLICATION_NON_UNIQUE);
    app->register_application();
    LoadWatcher watcher;
    platform::MainWindowOptions options{.contentRect = {0, 0, 640, 480}, .title = "Tolvar", .minimumSize = {200, 200},
                                        .menus = {{"Tolvar", {{.title = "Quit Tolvar"}}}},
                                        .ephemeralWebData = true, .dataDirectory = folder.path()};
    auto window = platform::createMainWindow(options, watcher);
    window->present();
    window->webView().load("data:text/html,<body style='background:%23ff0000'></body>", 30);
    runMainLoopUntil([&] { return watcher.finished; });
    ASSERT_TRUE(watcher.finished);
    // Let the page paint once before drawing it.
    bool painted = false;
    g_timeout_add(500, [](gpointer flag) -> gboolean { return *static_cast<bool*>(flag) = true, G_SOURCE_REMOVE; },
                  &painted);
    runMainLoopUntil([&] { return painted; });

    auto png = window->snapshotPNG();
    ASSERT_TRUE(png && !png->empty());
    const auto file = folder.path() / "window.png";
    std::ofstream(file, std::ios::binary) << *png;
    cairo_surface_t* image = cairo_image_surface_create_from_png(file.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(image), 640);
    EXPECT_EQ(cairo_image_surface_get_height(image), 480);
    EXPECT_NE(pixel(image, 320, 5), 0xff0000u) << "the menu bar is at the top";
    EXPECT_EQ(pixel(image, 320, 300), 0xff0000u) << "the page fills the rest";
    cairo_surface_destroy(image);
}

class NoDelegate : public platform::QuickSavePanelDelegate {
    void panelSave() override {}
    void panelCancel() override {}
};

double statusHeight(const platform::QuickSavePanel& panel) {
    for (const auto& control : panel.controlFrames()) {
        if (control.name == "status") return control.frame.height;
    }
    return -1;
}

void settle() {
    while (g_main_context_iteration(nullptr, FALSE)) {}
}

// A service's error message of many lines (a validation reply of JSON text) keeps the status line at
// two lines and the panel at its size, and its picture, taken at once as for "save-result", is drawn.
TEST(QuickSavePanelWindow, AStatusOfManyLinesStaysWithinTwoLines) {
    auto app = Gtk::Application::create("app.tolvar.panel-test", Gio::APPLICATION_NON_UNIQUE);
    app->register_application();
    NoDelegate delegate;
    auto panel = platform::createQuickSavePanel(delegate);
    panel->present(platform::PanelField::tags);
    panel->setStatus("Saving…", platform::StatusColour::secondary);
    runMainLoopUntil([&] { return panel->frameSize().height > 1 && statusHeight(*panel) > 0; });
    settle();
    const auto size = panel->frameSize();
    const double oneLine = statusHeight(*panel);

    std::string message = "[\n  {\n    \"code\": \"too_big\",\n";
    for (int i = 0; i < 10; ++i) message += "    \"path\": [\"title\"],\r\n\n";
    message += "    \"message\": \"String must contain at most 512 character(s)\"\n  }\n]";
    panel->setStatus(message, platform::StatusColour::error);
    auto png = panel->snapshotPNG();
    settle();
    EXPECT_EQ(panel->status(), message);
    EXPECT_LE(statusHeight(*panel), 2 * oneLine + 1);
    EXPECT_EQ(panel->frameSize().height, size.height);
    EXPECT_EQ(panel->frameSize().width, size.width);

    ASSERT_TRUE(png && !png->empty());
    testsupport::TemporaryFolder folder;
    const auto file = folder.path() / "panel.png";
    std::ofstream(file, std::ios::binary) << *png;
    cairo_surface_t* image = cairo_image_surface_create_from_png(file.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_height(image), int(size.height));
    std::set<uint32_t> colours;
    for (int y = 0; y < cairo_image_surface_get_height(image); y += 2) {
        for (int x = 0; x < cairo_image_surface_get_width(image); x += 2) colours.insert(pixel(image, x, y));
    }
    EXPECT_GT(colours.size(), 8u) << "the picture is blank";
    cairo_surface_destroy(image);
}

}  // namespace
