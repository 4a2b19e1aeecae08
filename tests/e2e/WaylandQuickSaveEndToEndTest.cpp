// Quick save on a Wayland compositor (weston's X11 backend inside the test's private Xvfb, for a
// seat with keyboard focus and a clipboard), with the global shortcut through a fake desktop portal
// on the test's private session bus.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "EndToEnd.h"
#include "capture/ReportStore.h"

namespace e2e {
namespace {

constexpr const char* socketName = "tolvar-e2e-wayland";
constexpr const char* portalTrigger = "Alt+Ctrl+B";

double millisecondsSince1970() {
    using namespace std::chrono;
    return double(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

class WaylandQuickSaveTest : public EndToEndTest {
protected:
    std::filesystem::path runtime = home.path() / "runtime";
    std::filesystem::path portalLog = home.path() / "portal.log";
    std::unique_ptr<testsupport::AppProcess> weston;
    std::unique_ptr<testsupport::AppProcess> portal;
    std::unique_ptr<testsupport::AppProcess> clipboardOwner;
    std::unique_ptr<testsupport::AppProcess> otherWindow;

    void SetUp() override {
        EndToEndTest::SetUp();
        weston = std::make_unique<testsupport::AppProcess>(
            "/usr/bin/weston", env,
            std::vector<std::string>{"--backend=x11-backend.so", std::string("--socket=") + socketName,
                                     "--idle-time=0", "--no-config", "--use-pixman", "--width=1280", "--height=900",
                                     "--log=" + (home.path() / "weston.log").string()});
        ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(runtime / socketName); })) << "weston did not start";
        env["WAYLAND_DISPLAY"] = socketName;
        env["GDK_BACKEND"] = "wayland";
        env["DISPLAY"] = std::nullopt;
    }

    void TearDown() override {
        EndToEndTest::TearDown();
        otherWindow.reset();
        clipboardOwner.reset();
        portal.reset();
        weston.reset();
    }

    void startPortal(const std::string& mode, const std::map<std::string, std::optional<std::string>>& env = {}) {
        portal = std::make_unique<testsupport::AppProcess>(
            FAKE_SHORTCUTS_PORTAL, env,
            std::vector<std::string>{portalLog.string(), mode, portalTrigger});
        ASSERT_TRUE(waitForPortalLine("ready"));
    }

    std::vector<std::string> portalCalls() {
        std::vector<std::string> lines;
        std::istringstream text(testsupport::readFile(portalLog));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }

    bool waitForPortalLine(const std::string& line) {
        return waitUntil([&] { return ("\n" + testsupport::readFile(portalLog)).find("\n" + line + "\n") != std::string::npos; });
    }

    // A "shortcut" event of this run that matches; it may come before the first page load.
    json shortcut(const std::function<bool(const json&)>& matches) {
        auto event = journal.waitFor("shortcut", eventTimeout, matches);
        if (!event) ADD_FAILURE() << "no matching \"shortcut\" event";
        return event.value_or(json::object());
    }

    // Another client's window takes the keyboard focus, as the browser has when the user presses
    // the shortcut; the main window's page notices that it lost the focus.
    void focusAnotherWindow() {
        otherWindow = std::make_unique<testsupport::AppProcess>("/usr/bin/weston-flower", env);
        for (int attempt = 0; attempt < 100; ++attempt) {
            send("js return document.hasFocus()\n");
            if (expect("js-result")["result"] == "false") return;
        }
        ADD_FAILURE() << "the main window kept the focus";
    }

    // wl-copy briefly takes the keyboard focus to set the selection; it has once wl-paste reads it.
    void copyToClipboard(const std::string& text) {
        clipboardOwner = std::make_unique<testsupport::AppProcess>(
            "/usr/bin/wl-copy", env, std::vector<std::string>{"--foreground", "--", text});
        const std::string paste = "env XDG_RUNTIME_DIR=" + runtime.string() + " WAYLAND_DISPLAY=" + socketName +
                                  " wl-paste --no-newline 2>/dev/null";
        ASSERT_TRUE(waitUntil([&] { return testsupport::commandOutput(paste) == text; }));
    }

    void writeReport(const std::string& address, const std::string& title) {
        const capture::ReportStore store(runtime / "tolvar-capture");
        ASSERT_TRUE(store.write({.browser = "chrome",
                                 .address = address,
                                 .title = title,
                                 .focused = millisecondsSince1970(),
                                 .received = millisecondsSince1970(),
                                 .pid = getpid()}));
    }

    void pressShortcut() { ASSERT_EQ(::kill(portal->pid(), SIGUSR1), 0); }

};

TEST_F(WaylandQuickSaveTest, PortalShortcutPresentsTheFrontTabOrTheClipboard) {
    startPortal("bind", {{"FAKE_PORTAL_SHORTCUTS_VERSION", "2"}});
    launch();
    auto bound = shortcut([](const json& e) { return e["trigger"] == portalTrigger; });
    EXPECT_EQ(bound["statusMenu"], std::string("Save Current Page…  ") + portalTrigger);
    const std::vector<std::string> asked{"ready", "Register app.tolvar.desktop", "CreateSession", "ListShortcuts",
                                         "BindShortcuts quick-save|Save the current page to Tolvar|CTRL+ALT+b"};
    EXPECT_EQ(portalCalls(), asked);

    // The browser extension reports that Chrome's window has the focus.
    focusAnotherWindow();
    writeReport("https://example.org/front-tab", "The Front Tab");
    pressShortcut();
    auto presented = expect("presented");
    EXPECT_EQ(presented["source"], "browser");
    EXPECT_EQ(presented["frontApp"], "com.google.Chrome");
    EXPECT_EQ(presented["url"], "https://example.org/front-tab");
    EXPECT_EQ(presented["title"], "The Front Tab");
    send("esc\n");
    expect("closed");

    // The focus left the browser (its report is empty): the clipboard, read once the panel has the
    // keyboard, fills the address.
    writeReport("", "");
    copyToClipboard("  https://example.org/copied \n");
    focusAnotherWindow();
    pressShortcut();
    presented = expect("presented");
    EXPECT_EQ(presented["frontApp"], "");
    EXPECT_EQ(presented["url"], "https://example.org/copied");
    EXPECT_EQ(presented["source"], "clipboard");
    send("esc\n");
    expect("closed");

    // Preferences show the bound trigger and open the desktop's own settings for it.
    send("preferences\n");
    const auto shown = expect("preferences");
    EXPECT_EQ(shown["choice"], "portal");
    EXPECT_EQ(shown["shortcut"], portalTrigger);
    EXPECT_EQ(shown["shortcutSettings"], true);
    send("open-shortcut-settings\n");
    EXPECT_TRUE(waitForPortalLine("ConfigureShortcuts"));

    // The user changes the trigger in the desktop's settings.
    ASSERT_EQ(::kill(portal->pid(), SIGUSR2), 0);
    const auto changed = expect("shortcut", [](const json& e) { return e["trigger"] == "Ctrl+Shift+S"; });
    EXPECT_EQ(changed["statusMenu"], "Save Current Page…  Ctrl+Shift+S");

    // The portal remembers the binding: the next start lists it and asks nothing more.
    relaunchWithFreshJournal();
    shortcut([](const json& e) { return e["trigger"] == "Ctrl+Shift+S"; });
    const auto calls = portalCalls();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& line) { return line.starts_with("BindShortcuts"); }), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "ListShortcuts"), 2);
}

TEST_F(WaylandQuickSaveTest, WithoutABoundShortcutNoneIsClaimed) {
    // No portal at all; then a portal that refuses; then one that never answers the binding.
    for (const std::string mode : {"none", "refuse", "silent"}) {
        SCOPED_TRACE(mode);
        if (mode != "none") startPortal(mode);
        if (app) relaunchWithFreshJournal();
        else launch();
        if (mode != "none") {
            ASSERT_TRUE(waitForPortalLine("BindShortcuts quick-save|Save the current page to Tolvar|CTRL+ALT+b"));
        }
        send("present\n");
        const auto presented = expect("presented");
        EXPECT_EQ(presented["visible"], true);
        // A portal that never answers the binding says nothing; the others settle on no trigger.
        if (mode != "silent") shortcut([](const json&) { return true; });
        for (const auto& event : journal.events()) {
            if (event["event"] != "shortcut") continue;
            EXPECT_EQ(event["trigger"], "");
            EXPECT_EQ(event["statusMenu"], "Save Current Page…");
        }
        send("esc\n");
        expect("closed");
        portal.reset();
        std::filesystem::remove(portalLog);
    }
}

}  // namespace
}  // namespace e2e
