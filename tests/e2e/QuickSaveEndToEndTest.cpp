#include "EndToEnd.h"
// Xlib last: its macros would clash with the names above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace e2e {
namespace {

// One save through the real clipboard, panel, title lookup, web view and service; the panel's
// decisions are unit-tested.
TEST_F(EndToEndTest, QuickSaveFromClipboardToTheService) {
    launch();
    const std::string address = service->base() + "/fixtures/titled.html";
    setClipboard(address);
    send("present\n");
    const auto presented = expect("presented");
    EXPECT_EQ(presented["url"], address);
    EXPECT_EQ(presented["visible"], true);
    EXPECT_EQ(presented["key"], true);
    EXPECT_TRUE(fs::exists(automation / presented["snapshot"].get<std::string>()));
    const auto filled = journal.waitFor("title-filled", eventTimeout);
    ASSERT_TRUE(filled) << "no title-filled event";
    EXPECT_EQ((*filled)["title"], "A page worth keeping");

    send("type news, tech  reading\nenter\n");
    const auto result = expect("save-result");
    EXPECT_EQ(result["outcome"], "saved");
    EXPECT_EQ(result["http"], 200);
    EXPECT_EQ(expect("closed")["visible"], false);

    const std::string page = bookmarksPage();
    EXPECT_NE(page.find(address), std::string::npos);
    EXPECT_NE(page.find("A page worth keeping"), std::string::npos);
    for (const char* tag : {"news", "tech", "reading"}) EXPECT_NE(page.find(tag), std::string::npos) << tag;
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

TEST_F(EndToEndTest, TheHotKeyASecondLaunchAndTheChosenShortcutOpenThePanel) {
    launch();
    setClipboard("https://example.org/keys");
    ASSERT_EQ(std::system("xdotool key ctrl+alt+b"), 0);
    expect("presented");
    send("esc\n");
    EXPECT_EQ(expect("closed")["by"], "cancel");
    // A second launch with --quick-save, for desktops without global hot keys.
    ASSERT_EQ(std::system(TOLVAR_EXECUTABLE " --quick-save"), 0);
    EXPECT_EQ(expect("presented")["visible"], true);
    send("esc\n");
    expect("closed");

    send("preferences\n");
    const auto shown = expect("preferences");
    EXPECT_EQ(shown["visible"], true);
    EXPECT_EQ(shown["choice"], "key-grab");
    EXPECT_EQ(shown["shortcut"], "Ctrl+Alt+B");
    // Clicking the shortcut and pressing a new combination takes it at once.
    send("record-shortcut\n");
    EXPECT_EQ(expect("shortcut-recording")["recording"], true);
    ASSERT_EQ(std::system("xdotool key ctrl+alt+k"), 0);
    auto changed = expect("shortcut-changed");
    EXPECT_EQ(changed["accepted"], true);
    EXPECT_EQ(changed["shortcut"], "Ctrl+Alt+K");
    ASSERT_EQ(std::system("xdotool key ctrl+alt+k"), 0);
    expect("presented");
    send("esc\n");
    expect("closed");

    // A combination another X client holds is refused with a message; Ctrl+Alt+K stays.
    const ForeignKeyGrab grab(XK_j, ControlMask | Mod1Mask);
    ASSERT_TRUE(grab.held());
    send("shortcut <Ctrl><Alt>j\n");
    changed = expect("shortcut-changed");
    EXPECT_EQ(changed["accepted"], false);
    EXPECT_NE(changed["message"], "");
    EXPECT_EQ(changed["shortcut"], "Ctrl+Alt+K");

    // The choice outlives the process.
    relaunchWithFreshJournal();
    ASSERT_EQ(std::system("xdotool key ctrl+alt+k"), 0);
    expect("presented");
}

}  // namespace
}  // namespace e2e
