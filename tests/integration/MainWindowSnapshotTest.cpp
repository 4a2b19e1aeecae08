#include <cairo.h>
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <fstream>

#include "platform/MainWindow.h"
#include "tests/support/AppProcess.h"

namespace {

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

void runMainLoopUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
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

}  // namespace
