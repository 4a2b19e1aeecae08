// Quick save on a Wayland compositor (weston's X11 backend inside the test's private Xvfb, for a
// seat with keyboard focus and a clipboard), with the global shortcut through a fake desktop portal
// on the test's private session bus, which also gives the desktop's colour scheme.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
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
    long portalCallsStartingWith(const std::string& method) {
        const auto calls = portalCalls();
        return std::count_if(calls.begin(), calls.end(), [&](const std::string& line) { return line.starts_with(method); });
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

// The portal's shortcut, and its Settings interface's colour scheme, which the page follows (the
// panel follows the same toolkit setting).
TEST_F(WaylandQuickSaveTest, PortalShortcutPresentsTheFrontTabOrTheClipboardInTheDesktopsColours) {
    startPortal("bind", {{"FAKE_PORTAL_COLOR_SCHEME", "1"}});
    launch();
    shortcut([](const json& e) { return e["trigger"] == portalTrigger; });
    const std::string offered = " quick-save|Save the current page to Tolvar|CTRL+ALT+b";
    const std::vector<std::string> asked{"ready", "Register app.tolvar.desktop", "CreateSession" + offered,
                                         "ListShortcuts", "BindShortcuts" + offered};
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
    const auto pagePrefersDark = [&] { return script("return String(matchMedia('(prefers-color-scheme: dark)').matches)"); };
    EXPECT_EQ(pagePrefersDark(), "true");
    ASSERT_EQ(::kill(portal->pid(), SIGHUP), 0);
    ASSERT_TRUE(waitForPortalLine("emit SettingChanged color-scheme 2"));
    EXPECT_TRUE(waitUntil([&] { return pagePrefersDark() == "false"; })) << "the page follows the switch to light";

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
    // Each press also reached another program's session first; only this program's counted.
    const auto events = journal.events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const json& e) { return e["event"] == "presented"; }), 2);

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
    expect("shortcut", [](const json& e) { return e["trigger"] == "Ctrl+Shift+S"; });
    for (const auto& event : journal.events()) EXPECT_NE(event["trigger"], "Ctrl+Alt+X") << "another session's change";

    // The portal remembers the binding: the next start lists it and asks nothing more.
    relaunchWithFreshJournal();
    shortcut([](const json& e) { return e["trigger"] == "Ctrl+Shift+S"; });
    EXPECT_EQ(portalCallsStartingWith("BindShortcuts"), 1);
    EXPECT_EQ(portalCallsStartingWith("ListShortcuts"), 2);
}

TEST_F(WaylandQuickSaveTest, WithoutABoundShortcutNoneIsClaimed) {
    // A portal that refuses, then one that never answers the binding, each meeting a fresh install.
    // (With no portal at all, the GNOME test below starts without a trigger.)
    for (const std::string mode : {"refuse", "silent"}) {
        SCOPED_TRACE(mode);
        std::filesystem::remove(home.path() / "config" / "tolvar" / "defaults.ini");
        startPortal(mode);
        if (app) relaunchWithFreshJournal();
        else launch();
        ASSERT_TRUE(waitForPortalLine("BindShortcuts quick-save|Save the current page to Tolvar|CTRL+ALT+b"));
        send("present\n");
        const auto presented = expect("presented");
        EXPECT_EQ(presented["visible"], true);
        // A portal that never answers the binding says nothing; the others settle on no trigger.
        if (mode != "silent") shortcut([](const json&) { return true; });
        for (const auto& event : journal.events()) {
            if (event["event"] == "shortcut") {
                EXPECT_EQ(event["trigger"], "");
            }
        }
        send("esc\n");
        expect("closed");
        if (mode == "refuse") {
            // Binding is asked once per install: the next start lists the shortcuts and settles.
            relaunchWithFreshJournal();
            shortcut([](const json& e) { return e["trigger"] == ""; });
            EXPECT_EQ(portalCallsStartingWith("ListShortcuts"), 2);
            EXPECT_EQ(portalCallsStartingWith("BindShortcuts"), 1);
        }
        portal.reset();
        std::filesystem::remove(portalLog);
    }
}

// GNOME before 48 offers no GlobalShortcuts portal: Preferences adds an entry to GNOME's own keyboard
// shortcuts when asked, with GNOME's real schemas and a private GSettings store. (That a binding
// already taken is refused is unit-tested.)
TEST_F(WaylandQuickSaveTest, GnomeKeyboardShortcutIsAddedOnRequestFollowedAndRemoved) {
    env["XDG_CURRENT_DESKTOP"] = "ubuntu:GNOME";
    env["GSETTINGS_BACKEND"] = "keyfile";
    const std::string list = "org.gnome.settings-daemon.plugins.media-keys custom-keybindings";
    const std::string folder = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
    const auto gsettings = [&](const std::string& arguments) {
        return commandOutput("env XDG_CONFIG_HOME=" + (home.path() / "config").string() +
                             " GSETTINGS_BACKEND=keyfile gsettings " + arguments + " 2>&1");
    };
    // An entry as "name|command|binding".
    const auto entry = [&](const std::string& name) {
        std::string text;
        for (const char* key : {"name", "command", "binding"}) {
            auto value = gsettings("get org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:" + folder + name +
                                   "/ " + key);
            if (!value.empty() && value.back() == '\n') value.pop_back();
            text += (text.empty() ? "" : "|") + value;
        }
        return text;
    };
    const auto setEntry = [&](const std::string& name, const std::string& key, const std::string& value) {
        gsettings("set org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:" + folder + name + "/ " + key +
                  " \"" + value + "\"");
    };
    // The user's own two entries.
    gsettings("set " + list + " \"['" + folder + "custom0/', '" + folder + "custom1/']\"");
    for (const auto& [key, value] : {std::pair{"name", "Terminal"}, {"command", "gnome-terminal"}, {"binding", "<Super>t"}}) {
        setEntry("custom0", key, value);
    }
    for (const auto& [key, value] : {std::pair{"name", "Notes"}, {"command", "gnote"}, {"binding", "<Primary><Shift>n"}}) {
        setEntry("custom1", key, value);
    }
    const std::string users = "['" + folder + "custom0/', '" + folder + "custom1/']\n";
    ASSERT_EQ(gsettings("get " + list), users);
    const std::string terminal = "'Terminal'|'gnome-terminal'|'<Super>t'";
    const std::string notes = "'Notes'|'gnote'|'<Primary><Shift>n'";

    launch();
    shortcut([](const json& e) { return e["trigger"] == ""; });
    send("preferences\n");
    auto shown = expect("preferences");
    EXPECT_EQ(shown["choice"], "gnome");
    EXPECT_EQ(shown["gnomeKeybinding"], "Add Ctrl+Alt+B to GNOME's keyboard shortcuts");
    EXPECT_EQ(gsettings("get " + list), users) << "written before the click";

    send("gnome-keybinding\n");
    auto changed = expect("gnome-keybinding");
    EXPECT_EQ(changed["added"], true);
    EXPECT_EQ(gsettings("get " + list), "['" + folder + "custom0/', '" + folder + "custom1/', '" + folder + "custom2/']\n");
    EXPECT_EQ(entry("custom0"), terminal);
    EXPECT_EQ(entry("custom1"), notes);
    EXPECT_EQ(entry("custom2"), "'Tolvar quick save'|'" TOLVAR_EXECUTABLE " --quick-save'|'<Primary><Alt>b'");
    shortcut([](const json& e) { return e["trigger"] == "Ctrl+Alt+B"; });

    // The user changes the binding in GNOME's Settings; the texts follow, and the next start finds
    // the entry rather than adding another.
    setEntry("custom2", "binding", "<Super>b");
    shortcut([](const json& e) { return e["trigger"] == "Super+B"; });
    relaunchWithFreshJournal();
    shortcut([](const json& e) { return e["trigger"] == "Super+B"; });
    send("preferences\n");
    EXPECT_EQ(expect("preferences")["gnomeKeybinding"], "Remove from GNOME's keyboard shortcuts");

    // Removed again: the user's entries stay as they were.
    send("gnome-keybinding\n");
    changed = expect("gnome-keybinding");
    EXPECT_EQ(changed["added"], false);
    EXPECT_EQ(gsettings("get " + list), users);
    EXPECT_EQ(entry("custom1"), notes);
    shortcut([](const json& e) { return e["trigger"] == ""; });

    // Uninstalling takes the entry out.
    send("gnome-keybinding\n");
    EXPECT_EQ(expect("gnome-keybinding")["added"], true);
    commandOutput("env HOME=" + home.path().string() + " XDG_CONFIG_HOME=" + (home.path() / "config").string() +
                  " XDG_DATA_HOME=" + (home.path() / "data").string() +
                  " GSETTINGS_BACKEND=keyfile " TOLVAR_EXECUTABLE " --uninstall 2>&1");
    EXPECT_EQ(gsettings("get " + list), users);
}

// Debian 12's portal stack for KDE Plasma: the xdg-desktop-portal 1.16 frontend with the Plasma 5.27
// backend and kglobalaccel5, each started on the test's own bus (nothing is activated there) and
// X display, with an xdg-open stand-in that records what the desktop asks it to open.
class KdePortalTest : public WaylandQuickSaveTest {
protected:
    std::filesystem::path standIns = home.path() / "stand-ins";
    std::filesystem::path opened = home.path() / "opened.log";
    std::vector<std::unique_ptr<testsupport::AppProcess>> desktop;

    void TearDown() override {
        WaylandQuickSaveTest::TearDown();
        while (!desktop.empty()) desktop.pop_back();  // the frontend first, kglobalaccel last
    }

    void startDesktop() {
        std::filesystem::create_directories(standIns);
        const auto xdgOpen = standIns / "xdg-open";
        std::ofstream(xdgOpen) << "#!/bin/sh\necho \"$@\" >> '" << opened.string() << "'\n";
        std::filesystem::permissions(xdgOpen, std::filesystem::perms::owner_all);
        auto desktopEnv = env;
        desktopEnv["XDG_CURRENT_DESKTOP"] = "KDE";
        // On the test's X display: Qt's offscreen platform opens no address at all, which would hide
        // a request to open the desktop's settings from the stand-in.
        desktopEnv["QT_QPA_PLATFORM"] = "xcb";
        desktopEnv["DISPLAY"] = std::getenv("DISPLAY");
        desktopEnv["WAYLAND_DISPLAY"] = std::nullopt;
        desktopEnv["PATH"] = standIns.string() + ":" + std::getenv("PATH");
        const struct {
            const char* program;
            std::vector<std::string> arguments;
            const char* busName;
        } services[] = {
            {"/usr/bin/kglobalaccel5", {}, "org.kde.kglobalaccel"},
            {"/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde", {}, "org.freedesktop.impl.portal.desktop.kde"},
            {"/usr/libexec/xdg-desktop-portal", {"-r"}, "org.freedesktop.portal.Desktop"},
        };
        for (const auto& service : services) {
            ASSERT_TRUE(std::filesystem::exists(service.program)) << service.program << ": scripts/install-deps.sh installs it";
            const auto log = home.path() / (std::filesystem::path(service.program).filename().string() + ".log");
            desktop.push_back(std::make_unique<testsupport::AppProcess>(service.program, desktopEnv, service.arguments, log));
            ASSERT_TRUE(waitUntil([&] { return hasOwner(service.busName); })) << service.program << " did not start";
        }
    }

    static bool hasOwner(const std::string& name) {
        return commandOutput("gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                             "--method org.freedesktop.DBus.NameHasOwner " + name + " 2>&1") == "(true,)\n";
    }

    // A call to kglobalaccel's component of this program, as gdbus prints the answer.
    static std::string component(const std::string& call) {
        return commandOutput("gdbus call --session --dest org.kde.kglobalaccel --object-path " + std::string(kdeComponent) +
                             " --method org.kde.kglobalaccel.Component." + call + " 2>&1");
    }
    // KDE names the component after the application id (none outside a sandbox) and the session token.
    static constexpr const char* kdeComponent = "/component/tolvar_quick_save";
};

TEST_F(KdePortalTest, ShortcutFromTheSessionWorksAndTheUsersChoiceIsKept) {
    startDesktop();
    launch();
    auto bound = shortcut([](const json& e) { return e["trigger"] != ""; });
    EXPECT_EQ(bound["trigger"], "Ctrl+Alt+B");
    EXPECT_NE(commandOutput("gdbus call --session --dest org.kde.kglobalaccel --object-path /kglobalaccel "
                            "--method org.kde.KGlobalAccel.allComponents").find(kdeComponent),
              std::string::npos);
    // Ctrl+Alt+B in Qt's key code: Qt::CTRL | Qt::ALT | Qt::Key_B.
    EXPECT_NE(component("allShortcutInfos").find("'quick-save'"), std::string::npos);
    EXPECT_NE(component("allShortcutInfos").find("[201326658]"), std::string::npos);

    // The desktop reports a press of the key.
    focusAnotherWindow();
    component("invokeShortcut quick-save");
    EXPECT_EQ(expect("presented")["visible"], true);
    send("esc\n");
    expect("closed");

    // The user picks Ctrl+Alt+S in the desktop's settings: it is shown, and kept at the next start.
    commandOutput("gdbus call --session --dest org.kde.kglobalaccel --object-path /kglobalaccel "
                  "--method org.kde.KGlobalAccel.setForeignShortcut "
                  "\"['tolvar_quick_save', 'quick-save', 'tolvar_quick_save', 'Save the current page to Tolvar']\" "
                  "\"[201326675]\"");
    shortcut([](const json& e) { return e["trigger"] == "Ctrl+Alt+S"; });
    relaunchWithFreshJournal();
    bound = shortcut([](const json& e) { return e["trigger"] != ""; });
    EXPECT_EQ(bound["trigger"], "Ctrl+Alt+S");
    EXPECT_NE(component("allShortcutInfos").find("[201326675]"), std::string::npos);

    // Nothing asked the desktop to open its settings (or any other address).
    EXPECT_FALSE(std::filesystem::exists(opened)) << testsupport::readFile(opened);
}

}  // namespace
}  // namespace e2e
