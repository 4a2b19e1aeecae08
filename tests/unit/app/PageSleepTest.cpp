// When the main window's page sleeps and wakes, and what waits for it meanwhile.
#include <gtest/gtest.h>

#include "app/PageSleep.h"
#include "tests/support/RecordingServices.h"

namespace {

using Reason = PageSleep::Reason;
constexpr double delay = 600;

class PageSleepTest : public ::testing::Test {
protected:
    testsupport::RecordingServices services;
    std::vector<std::string> steps;  // "suspend <reason>", "wake <reason>"
    std::shared_ptr<PageSleep> sleep = std::make_shared<PageSleep>(
        PageSleep::Actions{.suspend = [this](Reason r) { steps.push_back("suspend " + std::string(PageSleep::name(r))); },
                           .wake = [this](Reason r) { steps.push_back("wake " + std::string(PageSleep::name(r))); }},
        delay);
    // Asks for the page; answers how its work ended (loaded or not), and the work's `done`.
    std::optional<bool> ranLoaded;
    std::function<void()> workDone;
    void askForPage() {
        sleep->whenLoaded([this](bool loaded, std::function<void()> done) {
            ranLoaded = loaded;
            workDone = std::move(done);
        });
    }
};

TEST_F(PageSleepTest, SleepsOnlyAfterTheWindowWasHiddenAndIdleForTheWholeDelay) {
    sleep->windowVisibilityChanged(true);
    services.runTimers(delay);
    EXPECT_TRUE(steps.empty()) << "a window kept open never sleeps";

    sleep->windowVisibilityChanged(false);
    services.runTimers(delay - 1);
    EXPECT_TRUE(steps.empty());
    // Shown and hidden again: the hidden time starts over; the earlier timer is outdated.
    sleep->windowVisibilityChanged(true);
    sleep->windowVisibilityChanged(false);
    askForPage();  // a save in flight
    ASSERT_EQ(ranLoaded, true);
    sleep->downloadStarted();
    services.runTimers(delay);
    EXPECT_TRUE(steps.empty()) << "a save or a download in flight keeps the page";
    workDone();
    services.runTimers(delay);
    EXPECT_TRUE(steps.empty()) << "the download still runs";
    sleep->downloadEnded();
    services.runTimers(delay);
    EXPECT_EQ(steps, std::vector<std::string>{"suspend hidden"});
    EXPECT_TRUE(sleep->asleep());

    // Showing the window wakes it once; a load that finished lets it sleep again when hidden.
    sleep->windowVisibilityChanged(true);
    sleep->panelPresented();
    sleep->pageLoaded();
    sleep->windowVisibilityChanged(false);
    services.runTimers(delay);
    EXPECT_EQ(steps, (std::vector<std::string>{"suspend hidden", "wake shown", "suspend hidden"}));
}

TEST_F(PageSleepTest, WorkAskedWhileAsleepWakesThePageAndWaitsForItsLoad) {
    sleep->startAsleep();
    EXPECT_EQ(steps, std::vector<std::string>{"suspend background-start"});
    services.runTimers(delay);
    askForPage();
    EXPECT_EQ(steps, (std::vector<std::string>{"suspend background-start", "wake quick-save"}));
    EXPECT_FALSE(ranLoaded) << "the work waits for the load";
    // Waiting work keeps the page awake however long the load takes.
    services.runTimers(delay);
    EXPECT_EQ(steps.size(), 2u);
    sleep->pageLoaded();
    EXPECT_EQ(ranLoaded, true);
    workDone();
    workDone();  // ending twice counts once
    services.runTimers(delay);
    EXPECT_EQ(steps.back(), "suspend hidden");

    // A presented panel wakes the page at once; work asked meanwhile fails with the load.
    sleep->panelPresented();
    ranLoaded.reset();
    askForPage();
    EXPECT_EQ(steps.back(), "wake quick-save");
    sleep->pageLoadFailed();
    EXPECT_EQ(ranLoaded, false);
    EXPECT_FALSE(sleep->asleep());
}

// A script through the waking view has one time limit for the wait and the script together; when
// it ends, the page may sleep again.
TEST_F(PageSleepTest, WakingViewScriptsEndAtTheirTimeLimitAndLetThePageSleep) {
    testsupport::FakeWebView page;
    const auto view = std::make_shared<WakingWebView>(page, sleep);
    std::vector<std::string> answers;
    auto ask = [&] {
        view->callAsyncJavaScript("return 1", {}, 30, [&](platform::ScriptResult result) {
            answers.push_back(result.succeeded ? result.value.dump() : result.error);
        });
    };
    sleep->startAsleep();
    ask();
    sleep->pageLoaded();
    ASSERT_EQ(page.scripts.size(), 1u);
    EXPECT_LE(page.scripts[0].timeLimit, 30);
    EXPECT_GT(page.scripts[0].timeLimit, 29);
    services.runTimers(delay);  // the script never answers
    page.scripts[0].done({true, 1, ""});
    EXPECT_EQ(answers, std::vector<std::string>{"the script timed out"});
    services.runTimers(delay);
    EXPECT_TRUE(sleep->asleep()) << "a script that never answered keeps the page no longer";

    // The page takes longer to load than the limit: the script fails and never runs.
    ask();
    services.runTimers(30);
    EXPECT_EQ(answers, (std::vector<std::string>{"the script timed out", "the script timed out"}));
    sleep->pageLoaded();
    EXPECT_EQ(page.scripts.size(), 1u);
    services.runTimers(delay);
    EXPECT_TRUE(sleep->asleep());
}

TEST(PageSleepDelay, PositiveNumbersOfSecondsOnly) {
    EXPECT_EQ(PageSleep::delayFrom(std::nullopt), 600);
    EXPECT_EQ(PageSleep::delayFrom("3"), 3);
    EXPECT_EQ(PageSleep::delayFrom("0.5"), 0.5);
    for (const char* refused : {"", "0", "-4", "3s", "nan", "inf", " 3"}) {
        EXPECT_EQ(PageSleep::delayFrom(std::string(refused)), 600) << refused;
    }
}

}  // namespace
