#include "EndToEnd.h"

namespace e2e {
namespace {

// One save through the real panel, web view and service; the panel's decisions are unit-tested.
TEST_F(EndToEndTest, QuickSaveFromClipboardToTheService) {
    launch();
    setClipboard("https://example.org/quick-save-article");
    send("present\n");
    auto presented = expect("presented");
    EXPECT_EQ(presented["url"], "https://example.org/quick-save-article");
    EXPECT_EQ(presented["visible"], true);
    EXPECT_EQ(presented["key"], true);
    EXPECT_EQ(presented["focusTag"], true);
    EXPECT_EQ(presented["clipped"], json::array());
    EXPECT_EQ(presented["width"], 520);
    EXPECT_TRUE(std::filesystem::exists(automation / presented["snapshot"].get<std::string>()));

    send("type news, tech  reading\nenter\n");
    auto result = expect("save-result");
    EXPECT_EQ(result["outcome"], "saved");
    EXPECT_EQ(result["http"], 200);
    EXPECT_EQ(result["tags"], "news, tech  reading");
    EXPECT_EQ(result["clipped"], json::array());
    EXPECT_EQ(expect("closed")["visible"], false);

    const std::string page = bookmarksPage();
    EXPECT_NE(page.find("https://example.org/quick-save-article"), std::string::npos);
    for (const char* tag : {"news", "tech", "reading"}) EXPECT_NE(page.find(tag), std::string::npos) << tag;
}

TEST_F(EndToEndTest, TheHotKeyAndASecondLaunchOpenThePanelAndEscapeClosesIt) {
    launch();
    setClipboard("https://example.org/keys");
    ASSERT_EQ(std::system("xdotool key ctrl+alt+b"), 0);
    expect("presented");
    send("esc\n");
    auto closed = expect("closed");
    EXPECT_EQ(closed["by"], "cancel");
    EXPECT_EQ(closed["visible"], false);

    // A second launch with --quick-save, for desktops without global hot keys.
    ASSERT_EQ(std::system(TOLVAR_EXECUTABLE " --quick-save"), 0);
    EXPECT_EQ(expect("presented")["visible"], true);
}

TEST_F(EndToEndTest, TitleLookupFillsAnEmptyTitle) {
    launch();
    setClipboard(service->base() + "/fixtures/titled.html");
    send("present\n");
    EXPECT_EQ(expect("title-filled")["title"], "A page worth keeping");
}

}  // namespace
}  // namespace e2e
