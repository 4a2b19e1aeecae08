#include "EndToEnd.h"

#include <sstream>
// Xlib last: its macros would clash with the names above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace e2e {
namespace {

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

// The main window's frame as the X server has it: "x y width height".
std::string frameOf(const std::string& window) {
    std::map<std::string, std::string> values;
    std::istringstream lines(commandOutput("xdotool getwindowgeometry --shell " + window));
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values["X"] + " " + values["Y"] + " " + values["WIDTH"] + " " + values["HEIGHT"];
}

// One run of the application through the real clipboard, hot key, panel, title lookup, web view,
// service and window; the panel's decisions are unit-tested.
TEST_F(EndToEndTest, QuickSaveByHotKeyOrSecondLaunchToTheServiceAndWhatOutlivesTheProcess) {
    launch();
    const std::string address = service->base() + "/fixtures/titled.html";
    setClipboard(address);
    ASSERT_EQ(std::system("xdotool key ctrl+alt+b"), 0);
    const auto presented = expect("presented");
    EXPECT_EQ(presented["url"], address);
    EXPECT_EQ(presented["visible"], true);
    EXPECT_EQ(presented["key"], true);
    EXPECT_TRUE(fs::exists(automation / presented["snapshot"].get<std::string>()));
    EXPECT_EQ(journal.waitFor("title-filled", eventTimeout).value_or(json::object()).value("title", ""), "A page worth keeping");
    send("type news, tech  reading\nenter\n");
    const auto result = expect("save-result");
    EXPECT_EQ(result["outcome"], "saved");
    EXPECT_EQ(result["http"], 200);
    EXPECT_EQ(expect("closed")["visible"], false);
    const std::string page = bookmarksPage();
    EXPECT_NE(page.find(address), std::string::npos);
    EXPECT_NE(page.find("A page worth keeping"), std::string::npos);
    for (const char* tag : {"news", "tech", "reading"}) EXPECT_NE(page.find(tag), std::string::npos) << tag;

    // A second launch with --quick-save, for desktops without global hot keys; Escape cancels.
    setClipboard("https://example.org/keys");
    ASSERT_EQ(std::system(TOLVAR_EXECUTABLE " --quick-save"), 0);
    EXPECT_EQ(expect("presented")["visible"], true);
    send("esc\n");
    EXPECT_EQ(expect("closed")["by"], "cancel");

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

    // One that cannot be saved (a folder stands where the settings file goes) works until quit and
    // says so.
    const fs::path settings = home.path() / "config" / "tolvar" / "defaults.ini";
    const fs::path kept = settings.string() + ".kept";
    fs::rename(settings, kept);
    fs::create_directory(settings);
    send("shortcut <Ctrl><Alt>l\n");
    changed = expect("shortcut-changed");
    EXPECT_EQ(changed["accepted"], true);
    EXPECT_EQ(changed["message"], "Ctrl+Alt+L works until Tolvar quits: it could not be saved.");
    EXPECT_EQ(changed["shortcut"], "Ctrl+Alt+L");
    fs::remove(settings);
    fs::rename(kept, settings);

    // The saved choice and the main window's frame as it was left outlive the process.
    std::string window = waitForMainWindow();
    ASSERT_FALSE(window.empty());
    commandOutput("xdotool windowsize --sync " + window + " 900 600 windowmove --sync " + window + " 40 30");
    EXPECT_TRUE(waitUntil([&] { return testsupport::readFile(settings).find("40 30 900 600") != std::string::npos; }));
    relaunchWithFreshJournal();
    window = waitForMainWindow();
    ASSERT_FALSE(window.empty());
    EXPECT_EQ(frameOf(window), "40 30 900 600");
    ASSERT_EQ(std::system("xdotool key ctrl+alt+k"), 0);
    expect("presented");
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

constexpr const char* webProcess = "WebKitWebProces";

class PageSleepEndToEndTest : public EndToEndTest {
protected:
    void launchInBackground() {
        automate(service->base() + "/app", session);
        auto all = env;
        all["TOLVAR_ENGINE_SLEEP_SECONDS"] = "3";
        app = std::make_unique<AppProcess>(TOLVAR_EXECUTABLE, all, std::vector<std::string>{"--background"});
    }
    // Saves `address` through the panel as the user does: present, wait for the title, tags, Return.
    json quickSave(const std::string& address, const std::string& title) {
        setClipboard(address);
        const int64_t before = lastSeq;
        send("present\n");
        EXPECT_EQ(expect("presented")["visible"], true);
        const auto filled = journal.waitFor("title-filled", eventTimeout, {}, before);
        EXPECT_EQ(filled.value_or(json::object()).value("title", ""), title);
        send("type sleep\nenter\n");
        return expect("save-result");
    }
    void expectAsleep() {
        EXPECT_EQ(expect("engine-suspended")["reason"], "hidden");
        EXPECT_TRUE(waitUntil([&] { return descendantsNamed(app->pid(), webProcess).empty(); }));
    }
};

// From a --background start, through sleep and wake, to a save that meets no service. The sleep
// delay is 3 seconds; neither a shown window nor a download in progress lets the page sleep.
TEST_F(PageSleepEndToEndTest, BackgroundStartSleepsAndWakesForThePanelAndTheWindowButNotDuringADownload) {
    auto files = std::make_unique<LoopbackHttpServer>([](const HttpRequest&) {
        return HttpResponse{.contentType = "application/octet-stream",
                            .body = "first part",
                            .then = HttpResponse::Then::repeat,
                            .repeated = std::string(1024, 'x'),
                            .pause = 200ms};
    });
    launchInBackground();
    EXPECT_EQ(expect("engine-suspended")["reason"], "background-start");
    EXPECT_TRUE(waitUntil([&] { return descendantsNamed(app->pid(), webProcess).empty(); }));
    EXPECT_FALSE(anyEvent("web-loaded"));

    // The panel wakes the page at once, hidden; its title lookup and save wait for the load.
    EXPECT_EQ(quickSave(service->base() + "/fixtures/titled.html", "A page worth keeping")["outcome"], "saved");
    EXPECT_EQ(journal.waitFor("engine-resumed", 1s).value_or(json::object()).value("reason", ""), "quick-save");
    EXPECT_EQ(waitForMainWindow(false), "");
    expect("closed");
    expectAsleep();

    // From the hidden-and-asleep state the same.
    const auto saved = quickSave(service->base() + "/fixtures/titled.html?again", "A page worth keeping");
    EXPECT_EQ(saved["outcome"], "saved");
    EXPECT_EQ(saved["http"], 200);
    EXPECT_NE(bookmarksPage().find("again"), std::string::npos);
    expect("closed");
    expectAsleep();
    EXPECT_FALSE(anyEvent("web-process-ended"));
    EXPECT_FALSE(anyEvent("web-load-failed"));

    // The window shown after sleep shows the service page, signed in, and never sleeps while shown.
    send("show-window\n");
    EXPECT_EQ(expect("engine-resumed")["reason"], "shown");
    EXPECT_EQ(expect("web-loaded")["url"], service->base() + "/app");
    EXPECT_EQ(script("return document.querySelector('form[action=\"/app/signout\"]') !== null"), "true");
    std::this_thread::sleep_for(5s);
    EXPECT_FALSE(journal.waitFor("engine-suspended", 0ms, {}, lastSeq));
    EXPECT_EQ(descendantsNamed(app->pid(), webProcess).size(), 1u);

    // A download in progress keeps the hidden page awake past the delay; once it has ended the page sleeps.
    send("go " + files->url("/large.bin") + "\nclose-window\n");
    ASSERT_TRUE(files->waitForRequest([](const HttpRequest&) { return true; }, eventTimeout));
    std::this_thread::sleep_for(5s);
    EXPECT_FALSE(journal.waitFor("engine-suspended", 0ms, {}, lastSeq));
    EXPECT_EQ(descendantsNamed(app->pid(), webProcess).size(), 1u);
    files.reset();  // the download ends with the connection
    expectAsleep();

    // A save asked for while the page cannot load ends unreachable, as a failed page script does.
    const std::string address = service->base() + "/fixtures/titled.html?gone";
    service.reset();
    setClipboard(address);
    send("present\ntype sleep\nenter\n");
    const auto unreachable = expect("save-result");
    EXPECT_EQ(unreachable["outcome"], "unreachable");
    EXPECT_EQ(unreachable["http"], 0);
    EXPECT_EQ(unreachable["status"], "Couldn't reach Tolvar. Is the app signed in and online?");
}

}  // namespace
}  // namespace e2e
