// The desktop's colour-scheme preference, from a fake Settings portal on the test's private session
// bus, reaches the quick-save panel and the page, at launch and when it changes.
#include <cairo.h>
#include <signal.h>

#include "EndToEnd.h"

namespace e2e {
namespace {

// The mean of red, green and blue of one pixel of a PNG file; -1 when it cannot be read.
int brightnessAt(const std::filesystem::path& png, int x, int y) {
    cairo_surface_t* image = cairo_image_surface_create_from_png(png.c_str());
    int brightness = -1;
    if (cairo_surface_status(image) == CAIRO_STATUS_SUCCESS && x < cairo_image_surface_get_width(image) &&
        y < cairo_image_surface_get_height(image)) {
        const auto* row = cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
        const uint32_t pixel = reinterpret_cast<const uint32_t*>(row)[x];
        brightness = int(((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF)) / 3;
    }
    cairo_surface_destroy(image);
    return brightness;
}

class ColourSchemeTest : public EndToEndTest {
protected:
    std::filesystem::path portalLog = home.path() / "portal.log";
    std::unique_ptr<testsupport::AppProcess> portal;

    void TearDown() override {
        EndToEndTest::TearDown();
        portal.reset();
    }

    bool portalLogged(const std::string& line) {
        return waitUntil([&] { return testsupport::readFile(portalLog).find(line) != std::string::npos; });
    }

    std::string pagePrefersDark() { return script("return String(matchMedia('(prefers-color-scheme: dark)').matches)"); }

    // The brightness of the panel's background in its picture.
    int panelBackground() {
        send("present\n");
        const auto presented = expect("presented");
        const int brightness = brightnessAt(automation / presented["snapshot"].get<std::string>(), 4, 4);
        send("esc\n");
        expect("closed");
        return brightness;
    }
};

TEST_F(ColourSchemeTest, PanelAndPageFollowTheDesktopsColourSchemeWhileRunning) {
    portal = std::make_unique<testsupport::AppProcess>(
        FAKE_SHORTCUTS_PORTAL, std::map<std::string, std::optional<std::string>>{{"FAKE_PORTAL_COLOR_SCHEME", "1"}},
        std::vector<std::string>{portalLog.string(), "silent", "none"});
    ASSERT_TRUE(portalLogged("ready"));
    launch();

    EXPECT_EQ(pagePrefersDark(), "true");
    const int dark = panelBackground();
    EXPECT_GE(dark, 0);
    EXPECT_LT(dark, 100) << "a dark panel";

    ASSERT_EQ(::kill(portal->pid(), SIGHUP), 0);
    ASSERT_TRUE(portalLogged("emit SettingChanged color-scheme 2"));
    EXPECT_TRUE(waitUntil([&] { return pagePrefersDark() == "false"; })) << "the page follows the switch to light";
    EXPECT_GT(panelBackground(), 200) << "a light panel";
}

}  // namespace
}  // namespace e2e
