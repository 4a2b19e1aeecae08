// The shell's decisions at launch, on its menus and on the automation commands of the main window,
// driven through recording services and entry points.
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "app/ShellServices.h"
#include "automation/Commands.h"
#include "tests/support/RecordingServices.h"

namespace {

using nlohmann::json;
using platform::ScriptResult;
using Strings = std::vector<std::string>;

// The journal's events since the last call, as "<event> <field>" for the fields named.
Strings journal(std::initializer_list<const char*> fields) {
    Strings found;
    for (const auto& event : testsupport::newJournalEvents()) {
        for (const char* field : fields) {
            if (!event.contains(field)) continue;
            found.push_back(event["event"].get<std::string>() + " " + event[field].get<std::string>());
        }
    }
    return found;
}

class AppDelegateTest : public ::testing::Test {
protected:
    testsupport::RecordingServices services;
    Strings shellCalls;
    std::shared_ptr<AppDelegate> delegate = std::make_shared<AppDelegate>();

    AppDelegateTest() {
        auto record = [this](const char* name) { return [this, name] { shellCalls.push_back(name); }; };
        setShellServices({
            .secureDataFolders = record("secure-folders"),
            .finishInterruptedInstall = record("finish-install"),
            .checkForUpdates =
                [this](bool manual, bool atLaunch) {
                    shellCalls.push_back(std::string("check") + (manual ? " manual" : "") + (atLaunch ? " at-launch" : ""));
                },
            .checkForUpdatesIfDue = [this](bool atLaunch) { shellCalls.push_back(atLaunch ? "due at-launch" : "due"); },
            .announceInstalledUpdate = record("announce"),
            .showPreferences = record("preferences"),
        });
        testsupport::newJournalEvents();
    }
    ~AppDelegateTest() override { setShellServices({}); }

    testsupport::FakeWebView& view() { return services.window->view; }
    void launch(const char* startAddress) {
        services.environment["TOLVAR_START_URL"] = startAddress;
        delegate->launch();
        ASSERT_NE(services.window, nullptr);
    }
    const platform::MenuItem& menuItem(const std::string& title) {
        for (const auto& menu : services.window->options.menus) {
            for (const auto& item : menu.items) {
                if (item.title == title) return item;
            }
        }
        throw std::runtime_error("no menu item " + title);
    }
};

TEST_F(AppDelegateTest, LaunchOpensTheStartAddressAndReachesTheShellsEntryPoints) {
    services.environment["TOLVAR_UPDATE_FEED"] = "http://127.0.0.1:1/feed";
    launch("http://127.0.0.1:1/app");
    EXPECT_EQ(view().loads, Strings{"http://127.0.0.1:1/app"});
    EXPECT_EQ(services.window->presented, 1);
    EXPECT_TRUE(services.window->options.ephemeralWebData);
    delegate->reopen();
    EXPECT_EQ(services.window->presented, 2);
    // A half-done install is settled before anything else; the update checks start 6 seconds in.
    EXPECT_EQ(shellCalls, (Strings{"finish-install", "secure-folders", "announce"}));
    services.runTimers(6);
    menuItem("Check for Updates…").action();
    menuItem("Preferences…").action();
    EXPECT_EQ(shellCalls, (Strings{"finish-install", "secure-folders", "announce", "due at-launch", "check manual",
                                   "preferences"}));

    // The other menu commands reach the page.
    services.clipboard = "https://a.example/";
    for (const char* title : {"New Bookmark", "Save Clipboard URL"}) menuItem(title).action();
    EXPECT_EQ(view().loads, (Strings{"http://127.0.0.1:1/app", "https://web.tolvar.app/app/bookmarks/new",
                                     "https://web.tolvar.app/app/bookmarks/new?url=https%3A%2F%2Fa.example%2F"}));

    // A page that could not load is tried again when the network comes back.
    delegate->loadFailed("http://127.0.0.1:1/app", platform::LoadError::cannotConnect, "refused");
    services.networkChanged(true);
    EXPECT_EQ(view().loads.back(), "http://127.0.0.1:1/app");

    // An empty start address does not parse: the window opens empty.
    delegate = std::make_shared<AppDelegate>();
    launch("");
    EXPECT_TRUE(view().loads.empty());
}

// In the background the page loads only when needed, and sleeps again once the window has been
// closed for the delay; it comes back on the service page it showed, or on the start address.
TEST_F(AppDelegateTest, BackgroundPageLoadsWhenNeededAndSleepsWhileHidden) {
    delegate->launchesInBackground = true;
    launch("http://127.0.0.1:1/app");
    EXPECT_TRUE(view().loads.empty());
    EXPECT_EQ(services.window->presented, 0);
    EXPECT_EQ(journal({"reason"}), Strings{"engine-suspended background-start"});

    delegate->reopen();
    services.runTimers(1);
    delegate->loadFinished();
    E2E::commands().run("go /app/tags");
    delegate->loadFinished();
    services.runTimers(PageSleep::defaultDelaySeconds);
    EXPECT_EQ(view().suspensions, 0) << "shown";
    services.window->hide();
    services.runTimers(PageSleep::defaultDelaySeconds);
    EXPECT_EQ(view().suspensions, 1);
    delegate->reopen();
    services.runTimers(1);
    EXPECT_EQ(view().loads,
              (Strings{"http://127.0.0.1:1/app", "http://127.0.0.1:1/app/tags", "http://127.0.0.1:1/app/tags"}));
    EXPECT_EQ(journal({"reason"}), (Strings{"engine-resumed shown", "engine-suspended hidden", "engine-resumed shown"}));

    // Off the service, it comes back on the start address.
    E2E::commands().run("go https://accounts.google.com/signin");
    delegate->loadFinished();
    services.window->hide();
    services.runTimers(PageSleep::defaultDelaySeconds);
    E2E::commands().run("show-window");
    services.runTimers(1);
    EXPECT_EQ(view().suspensions, 2);
    EXPECT_EQ(view().loads.back(), "http://127.0.0.1:1/app");
}

TEST_F(AppDelegateTest, StartAtLoginFollowsTheLoginItemAndSaysWhenItCannotChange) {
    launch("http://127.0.0.1:1/app");
    const auto& item = menuItem("Start at Login");
    item.action();
    EXPECT_TRUE(services.startsAtLogin);
    EXPECT_TRUE(item.checked());
    EXPECT_TRUE(services.alerts.empty());

    services.loginItemWritable = false;
    item.action();
    EXPECT_TRUE(item.checked());
    services.startsAtLogin = false;
    item.action();
    EXPECT_FALSE(item.checked());
    EXPECT_EQ(services.alerts, (Strings{"Tolvar still starts at login: its autostart entry could not be removed.",
                                        "Tolvar could not be set to start at login: its autostart entry could not be written."}));
}

TEST_F(AppDelegateTest, MainWindowCommandsLoadClickAndAnswerScripts) {
    launch("http://127.0.0.1:1/app");
    auto& commands = E2E::commands();
    commands.run("go /fixtures/long.html");
    commands.run("go https://example.org/other");
    EXPECT_EQ(view().loads,
              (Strings{"http://127.0.0.1:1/app", "http://127.0.0.1:1/fixtures/long.html", "https://example.org/other"}));

    commands.run("click #far");
    commands.run("click #nothing-here");
    ASSERT_EQ(view().scripts.size(), 2u);
    EXPECT_EQ(view().scripts[0].arguments, (json{{"arg", "#far"}}));
    view().scripts[0].done({true, json::array({12.5, 40}), ""});
    view().scripts[1].done({true, nullptr, ""});
    EXPECT_EQ(view().clicks, (std::vector<std::pair<double, double>>{{12.5, 40}}));

    std::string longText;  // 2500 characters of two bytes, of which 2000 are kept
    for (int i = 0; i < 2500; ++i) longText += "é";
    for (const ScriptResult& result : {ScriptResult{true, "clicked far", ""}, ScriptResult{true, 42, ""},
                                       ScriptResult{true, nullptr, ""}, ScriptResult{false, nullptr, "Error: boom"},
                                       ScriptResult{true, longText, ""}}) {
        commands.run("js return something");
        EXPECT_EQ(view().scripts.back().body, "return something");
        view().scripts.back().done(result);
    }
    // Scripts that never answer end at their time limit.
    commands.run("click #never");
    commands.run("js return never");
    EXPECT_EQ(view().scripts.back().timeLimit, 30);
    services.runTimers(30);

    EXPECT_EQ(journal({"selector", "result"}),
              (Strings{"clicked #far", "click-failed #nothing-here", "js-result clicked far", "js-result 42",
                       "js-result null", "js-result ERROR Error: boom", "js-result " + longText.substr(0, 4000),
                       "click-failed #never", "js-result ERROR the script timed out"}));
}

}  // namespace
