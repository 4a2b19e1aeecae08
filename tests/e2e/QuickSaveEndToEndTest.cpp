#include <signal.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "EndToEnd.h"
#include "tests/support/LoopbackHttpServer.h"
// Xlib last: its macros would clash with the names above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace e2e {
namespace {

TEST_F(EndToEndTest, QuickSaveFromClipboardToTheService) {
    launch();
    setClipboard("  https://example.org/quick-save-article \n");
    send("present\n");
    auto presented = expect("presented");
    EXPECT_EQ(presented["url"], "https://example.org/quick-save-article");
    EXPECT_EQ(presented["source"], "clipboard");
    EXPECT_EQ(presented["status"], "");
    EXPECT_EQ(presented["visible"], true);
    EXPECT_EQ(presented["key"], true);
    EXPECT_EQ(presented["focusTag"], true);
    EXPECT_EQ(presented["clipped"], json::array());
    EXPECT_EQ(presented["browserError"], 0);
    EXPECT_EQ(presented["width"], 520);
    EXPECT_TRUE(std::filesystem::exists(automation / presented["snapshot"].get<std::string>()));

    send("type news, tech  reading\nenter\n");
    auto result = expect("save-result");
    EXPECT_EQ(result["outcome"], "saved");
    EXPECT_EQ(result["status"], "Saved ✓");
    EXPECT_EQ(result["http"], 200);
    EXPECT_EQ(result["tags"], "news, tech  reading");
    EXPECT_EQ(result["clipped"], json::array());
    auto closed = expect("closed");
    EXPECT_EQ(closed["by"], "save");
    EXPECT_EQ(closed["visible"], false);

    const std::string page = bookmarksPage();
    EXPECT_NE(page.find("https://example.org/quick-save-article"), std::string::npos);
    for (const char* tag : {"news", "tech", "reading"}) EXPECT_NE(page.find(tag), std::string::npos) << tag;

    // The same address again, with two quick Returns: one request, one answer.
    send("present\n");
    expect("presented");
    send("enter\nenter\n");
    result = expect("save-result");
    EXPECT_EQ(result["outcome"], "already-saved");
    EXPECT_EQ(result["status"], "Already saved ✓");
    expect("closed");
    int saveResults = 0;
    for (const auto& event : journal.events()) saveResults += event["event"] == "save-result";
    EXPECT_EQ(saveResults, 2);
}

TEST_F(EndToEndTest, PanelKeysAndBadAddresses) {
    launch();
    setClipboard("just some prose, not an address");
    send("present\n");
    auto presented = expect("presented");
    EXPECT_EQ(presented["url"], "");
    EXPECT_EQ(presented["source"], "none");
    EXPECT_EQ(presented["status"], "Paste a link, or press Ctrl+Alt+B while a browser page is in front.");
    EXPECT_EQ(presented["focusTag"], false);

    send("type ftp://example.org/file\nenter\n");
    auto result = expect("save-result");
    EXPECT_EQ(result["outcome"], "invalid-url");
    EXPECT_EQ(result["status"], "Enter a web address starting with http:// or https://");
    EXPECT_FALSE(result.contains("http"));

    send("esc\n");
    auto closed = expect("closed");
    EXPECT_EQ(closed["by"], "cancel");
    EXPECT_EQ(closed["visible"], false);

    // Ctrl+Alt+B from anywhere opens the panel again.
    ASSERT_EQ(std::system("xdotool key ctrl+alt+b"), 0);
    expect("presented");

    // So does a second launch with --quick-save, for desktops without global hot keys.
    send("esc\n");
    expect("closed");
    ASSERT_EQ(std::system(TOLVAR_EXECUTABLE " --quick-save"), 0);
    EXPECT_EQ(expect("presented")["visible"], true);
}

TEST_F(EndToEndTest, TitleLookupFillsAnEmptyTitleAndYieldsToATypedOne) {
    launch();
    const std::string titled = service->base() + "/fixtures/titled.html";
    setClipboard(titled);
    const int64_t before = lastSeq;
    send("present\n");
    auto filled = journal.waitFor("title-filled", eventTimeout, {}, before);
    ASSERT_TRUE(filled);
    EXPECT_EQ((*filled)["title"], "A page worth keeping");
    auto presented = journal.waitFor("presented", eventTimeout, {}, before);
    ASSERT_TRUE(presented);
    lastSeq = std::max((*filled)["seq"].get<int64_t>(), (*presented)["seq"].get<int64_t>());

    // A slow page: the user types a title before the service has found the page's own.
    std::atomic<bool> answered = false;
    testsupport::LoopbackHttpServer slow([&](const testsupport::HttpRequest&) {
        std::this_thread::sleep_for(1500ms);
        answered = true;
        return testsupport::HttpResponse{.body = "<title>The slow page's own title</title>"};
    });
    setClipboard(slow.url("/slow"));
    send("present\n");
    expect("presented");
    // From the tags field, Tab passes Read later, Cancel, Save and the address to reach the title.
    send("type \t\t\t\t\tMy own title\n");
    ASSERT_TRUE(slow.waitForRequest([](const auto&) { return true; }, eventTimeout));
    while (!answered) std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(1s);  // the service's answer reaches the panel
    send("enter\n");
    EXPECT_EQ(expect("save-result")["outcome"], "saved");
    const std::string page = bookmarksPage();
    EXPECT_NE(page.find("My own title"), std::string::npos);
    EXPECT_EQ(page.find("The slow page"), std::string::npos);
    for (const auto& event : journal.events()) {
        if (event["event"] == "title-filled") {
            EXPECT_EQ(event["title"], "A page worth keeping");
        }
    }
}

TEST_F(EndToEndTest, SaveWithoutSignInOrServiceTellsTheUser) {
    launch(/*signedIn=*/false);
    setClipboard("https://example.org/not-signed-in");
    send("present\nenter\n");
    auto result = expect("save-result");
    EXPECT_EQ(result["outcome"], "failed");
    EXPECT_EQ(result["status"], "Sign in to Tolvar first (open Tolvar from the menu bar).");
    EXPECT_EQ(result["http"], 401);

    // The panel stays; with the service gone the script's fetch fails.
    EXPECT_EQ(service->stop(SIGTERM), 0);
    send("enter\n");
    result = expect("save-result");
    EXPECT_EQ(result["outcome"], "unreachable");
    EXPECT_EQ(result["status"], "Couldn't reach Tolvar. Is the app signed in and online?");
    EXPECT_EQ(result["http"], 0);
}

TEST_F(EndToEndTest, ASaveThatNeverAnswersLeavesThePanelUsable) {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    testsupport::LoopbackHttpServer silent([&](const testsupport::HttpRequest& request) {
        if (request.target.starts_with("/api/")) {
            std::unique_lock lock(mutex);
            released.wait(lock, [&] { return release; });
        }
        return testsupport::HttpResponse{.body = "<title>A site whose API hangs</title>"};
    });
    auto releaseAll = [&] {
        {
            std::lock_guard lock(mutex);
            release = true;
        }
        released.notify_all();
    };
    // Whatever happens below, the held requests are let go before the server is stopped.
    std::unique_ptr<void, std::function<void(void*)>> releaser(&release, [&](void*) { releaseAll(); });
    launch();
    send("go " + silent.url("/app") + "\n");
    expect("web-loaded");
    setClipboard("https://example.org/hanging");
    send("present\nenter\n");
    auto creates = [&] {
        int count = 0;
        for (const auto& request : silent.requests()) count += request.target.starts_with("/api/trpc/bookmarks.create");
        return count;
    };
    ASSERT_TRUE(silent.waitForRequest([](const auto& r) { return r.target.starts_with("/api/trpc/bookmarks.create"); },
                                      eventTimeout));
    // Presenting again clears the pending save: the panel answers and a new save can start.
    send("present\n");
    EXPECT_EQ(expect("presented")["status"], "");
    send("enter\n");
    const auto deadline = std::chrono::steady_clock::now() + eventTimeout;
    while (creates() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(creates(), 2);
}

TEST_F(EndToEndTest, ASaveToAStoppedServiceEndsAsUnreachableAfterItsTimeLimit) {
    launch();
    setClipboard("https://example.org/stopped-service");
    send("present\n");
    expect("presented");
    // The service stops answering: its connections are accepted by the kernel and then wait.
    ASSERT_EQ(::kill(service->pid(), SIGSTOP), 0);
    send("type paused\nenter\n");
    auto result = journal.waitFor("save-result", 90s, {}, lastSeq);
    ::kill(service->pid(), SIGCONT);
    ASSERT_TRUE(result) << "the save never ended";
    lastSeq = (*result)["seq"];
    EXPECT_EQ((*result)["outcome"], "unreachable");
    EXPECT_EQ((*result)["status"], "Couldn't reach Tolvar. Is the app signed in and online?");
    EXPECT_EQ((*result)["http"], 0);

    // The panel is usable again: with the service back, Save works.
    send("enter\n");
    const std::string outcome = expect("save-result")["outcome"];
    EXPECT_TRUE(outcome == "saved" || outcome == "already-saved") << outcome;
    EXPECT_EQ(expect("closed")["by"], "save");
    EXPECT_NE(bookmarksPage().find("https://example.org/stopped-service"), std::string::npos);
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
