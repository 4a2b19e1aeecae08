// The shell's decisions at launch and on the automation commands of the main window, driven through
// recording services.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "app/AppDelegate.h"
#include "automation/Commands.h"
#include "tests/support/AppProcess.h"
#include "tests/support/RecordingServices.h"

namespace {

using nlohmann::json;
using platform::ScriptResult;

std::string repeated(const std::string& text, int times) {
    std::string result;
    while (times-- > 0) result += text;
    return result;
}

class AppDelegateTest : public ::testing::Test {
protected:
    testsupport::RecordingServices services;
    std::shared_ptr<AppDelegate> delegate = std::make_shared<AppDelegate>();

    void SetUp() override {
        // The user's folders are this process's own, set before anything reads them.
        static const testsupport::TemporaryFolder home;
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
            setenv(name, (home.path() / name).c_str(), 1);
        }
        unsetenv("TOLVAR_SERVICE_URL");
        unsetenv("TOLVAR_E2E_SESSION");
        testsupport::newJournalEvents();
    }
    testsupport::FakeWebView& view() { return services.window->view; }
    void launch(const char* startAddress) {
        setenv("TOLVAR_START_URL", startAddress, 1);
        delegate->launch();
        ASSERT_NE(services.window, nullptr);
    }
};

TEST_F(AppDelegateTest, LaunchOpensTheStartAddressAndTheWindowUnlessInTheBackground) {
    launch("http://127.0.0.1:1/app");
    EXPECT_EQ(view().loads, std::vector<std::string>{"http://127.0.0.1:1/app"});
    EXPECT_EQ(services.window->presented, 1);
    EXPECT_TRUE(services.window->options.ephemeralWebData);
    delegate->reopen();
    EXPECT_EQ(services.window->presented, 2);

    // An empty start address does not parse: the window opens empty.
    delegate = std::make_shared<AppDelegate>();
    launch("");
    EXPECT_TRUE(view().loads.empty());
}

// In the background the page loads only when needed, and sleeps again once the window has been
// closed for the delay; it comes back on the service page it showed, or on the start address.
TEST_F(AppDelegateTest, BackgroundPageLoadsWhenNeededAndSleepsWhileHidden) {
    auto eventsNamed = [](const char* prefix) {
        std::vector<std::string> found;
        for (const auto& event : testsupport::newJournalEvents()) {
            const std::string name = event["event"];
            if (name.starts_with(prefix)) found.push_back(name + " " + event.value("reason", ""));
        }
        return found;
    };
    delegate->launchesInBackground = true;
    launch("http://127.0.0.1:1/app");
    EXPECT_TRUE(view().loads.empty());
    EXPECT_EQ(services.window->presented, 0);
    EXPECT_EQ(eventsNamed("engine-"), std::vector<std::string>{"engine-suspended background-start"});

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
    EXPECT_EQ(view().loads, (std::vector<std::string>{"http://127.0.0.1:1/app", "http://127.0.0.1:1/app/tags",
                                                      "http://127.0.0.1:1/app/tags"}));
    EXPECT_EQ(eventsNamed("engine-"), (std::vector<std::string>{"engine-resumed shown", "engine-suspended hidden",
                                                                "engine-resumed shown"}));

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
    const platform::MenuItem* item = nullptr;
    for (const auto& menu : services.window->options.menus) {
        for (const auto& candidate : menu.items) {
            if (candidate.title == "Start at Login") item = &candidate;
        }
    }
    ASSERT_NE(item, nullptr);
    item->action();
    EXPECT_TRUE(services.startsAtLogin);
    EXPECT_TRUE(item->checked());
    EXPECT_TRUE(services.alerts.empty());

    services.loginItemWritable = false;
    item->action();
    EXPECT_TRUE(item->checked());
    services.startsAtLogin = false;
    item->action();
    EXPECT_FALSE(item->checked());
    EXPECT_EQ(services.alerts, (std::vector<std::string>{
                                   "Tolvar still starts at login: its autostart entry could not be removed.",
                                   "Tolvar could not be set to start at login: its autostart entry could not be written."}));
}

TEST_F(AppDelegateTest, MainWindowCommandsLoadClickAndAnswerScripts) {
    launch("http://127.0.0.1:1/app");
    auto& commands = E2E::commands();
    commands.run("go /fixtures/long.html");
    commands.run("go https://example.org/other");
    EXPECT_EQ(view().loads, (std::vector<std::string>{"http://127.0.0.1:1/app", "http://127.0.0.1:1/fixtures/long.html",
                                                      "https://example.org/other"}));

    commands.run("click #far");
    commands.run("click #nothing-here");
    ASSERT_EQ(view().scripts.size(), 2u);
    EXPECT_EQ(view().scripts[0].arguments, (json{{"arg", "#far"}}));
    view().scripts[0].done({true, json::array({12.5, 40}), ""});
    view().scripts[1].done({true, nullptr, ""});
    EXPECT_EQ(view().clicks, (std::vector<std::pair<double, double>>{{12.5, 40}}));

    const std::pair<ScriptResult, std::string> answers[] = {
        {{true, "clicked far", ""}, "clicked far"},
        {{true, 42, ""}, "42"},
        {{true, nullptr, ""}, "null"},
        {{false, nullptr, "Error: boom"}, "ERROR Error: boom"},
        {{true, repeated("é", 2500), ""}, repeated("é", 2000)},
    };
    for (const auto& [result, shown] : answers) {
        commands.run("js return something");
        EXPECT_EQ(view().scripts.back().body, "return something");
        view().scripts.back().done(result);
    }
    // Scripts that never answer end at their time limit.
    commands.run("click #never");
    commands.run("js return never");
    EXPECT_EQ(view().scripts.back().timeLimit, 30);
    services.runTimers(30);
    commands.run("frobnicate  now");
    commands.run("Present");

    std::vector<std::string> journal;
    for (const auto& event : testsupport::newJournalEvents()) {
        const std::string name = event["event"];
        for (const char* field : {"selector", "result", "line"}) {
            if (event.contains(field)) journal.push_back(name + " " + event[field].get<std::string>());
        }
    }
    EXPECT_EQ(journal, (std::vector<std::string>{"clicked #far", "click-failed #nothing-here",
                                                 "js-result clicked far", "js-result 42", "js-result null",
                                                 "js-result ERROR Error: boom", "js-result " + repeated("é", 2000),
                                                 "click-failed #never", "js-result ERROR the script timed out",
                                                 "unknown-command frobnicate  now", "unknown-command Present"}));
}

}  // namespace
