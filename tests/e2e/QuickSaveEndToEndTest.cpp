#include "EndToEnd.h"
#include "tests/support/LoopbackHttpServer.h"
// Xlib last: its macros would clash with the names above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

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

// Another X client's passive grab of a key combination on the root window, for as long as it lives.
class ForeignKeyGrab {
public:
    ForeignKeyGrab(KeySym key, unsigned modifiers) : display_(XOpenDisplay(nullptr)) {
        if (display_ == nullptr) return;
        XGrabKey(display_, XKeysymToKeycode(display_, key), modifiers, DefaultRootWindow(display_), True, GrabModeAsync,
                 GrabModeAsync);
        XSync(display_, False);
    }
    ~ForeignKeyGrab() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    ForeignKeyGrab(const ForeignKeyGrab&) = delete;
    ForeignKeyGrab& operator=(const ForeignKeyGrab&) = delete;
    bool held() const { return display_ != nullptr; }

private:
    Display* display_;
};

TEST_F(EndToEndTest, PreferencesChooseTheQuickSaveShortcut) {
    launch();
    setClipboard("just some prose, not an address");
    send("preferences\n");
    const auto shown = expect("preferences");
    EXPECT_EQ(shown["visible"], true);
    EXPECT_EQ(shown["key"], true);
    EXPECT_EQ(shown["choice"], "key-grab");
    EXPECT_EQ(shown["shortcut"], "Ctrl+Alt+B");
    EXPECT_EQ(shown["serviceAddressLocked"], false);

    // Clicking the shortcut and pressing a new combination takes it at once.
    send("record-shortcut\n");
    EXPECT_EQ(expect("shortcut-recording")["recording"], true);
    ASSERT_EQ(std::system("xdotool key ctrl+alt+k"), 0);
    auto changed = expect("shortcut-changed");
    EXPECT_EQ(changed["accepted"], true);
    EXPECT_EQ(changed["message"], "");
    EXPECT_EQ(changed["shortcut"], "Ctrl+Alt+K");
    EXPECT_EQ(changed["shown"], "Ctrl+Alt+K");
    ASSERT_EQ(std::system("xdotool key ctrl+alt+k"), 0);
    EXPECT_EQ(expect("presented")["status"], "Paste a link, or press Ctrl+Alt+K while a browser page is in front.");
    send("esc\n");
    expect("closed");

    // A combination another X client holds is refused with a message; Ctrl+Alt+K stays.
    const ForeignKeyGrab grab(XK_j, ControlMask | Mod1Mask);
    ASSERT_TRUE(grab.held());
    send("shortcut <Ctrl><Alt>j\n");
    changed = expect("shortcut-changed");
    EXPECT_EQ(changed["accepted"], false);
    EXPECT_EQ(changed["message"], "Another program already uses Ctrl+Alt+J. Choose another combination.");
    EXPECT_EQ(changed["shortcut"], "Ctrl+Alt+K");
    EXPECT_EQ(changed["shown"], "Ctrl+Alt+K");
    EXPECT_TRUE(std::filesystem::exists(automation / changed["snapshot"].get<std::string>()));

    // The choice outlives the process.
    relaunchWithFreshJournal();
    ASSERT_EQ(std::system("xdotool key ctrl+alt+k"), 0);
    EXPECT_EQ(expect("presented")["status"], "Paste a link, or press Ctrl+Alt+K while a browser page is in front.");
}

}  // namespace
}  // namespace e2e
