// UpdateCheck::run and runIfDue against a loopback feed, the real settings file (private
// XDG_CONFIG_HOME) and the alert answerer; clock, installer, relaunch, browser and log are stand-ins.
// Run once as an ordinary start and once in automation mode, which is fixed for a process.

#include <glib.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "automation/E2E.h"
#include "platform/MainLoop.h"
#include "platform/ModalAlert.h"
#include "platform/Settings.h"
#include "tests/support/AppProcess.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/MainLoop.h"
#include "update/UpdateCheck.h"
#include "update/UpdateFlow.h"
#include "update/UpdateRules.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::AlertContent;
using SelfUpdate::Failure;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::LoopbackHttpServer;
using testsupport::runMainLoopUntil;
using UpdateRules::Clock;

// This process's private folder, made by main() before anything reads the environment.
fs::path privateFolder;

// 2024-05-01 12:00:00.123456789 UTC.
const Clock::time_point start = std::chrono::time_point_cast<Clock::duration>(
    std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} + 12h + 123456789ns);

const std::string lastCheck(UpdateCheck::lastCheckKey);
const std::string skipped(UpdateCheck::skippedKey);

std::string feedJSON(const std::string& version, const std::string& url, std::optional<std::string> notes = {},
                     std::optional<std::string> zip = {}) {
    nlohmann::json feed = {{"version", version}, {"url", url}};
    if (notes) feed["notes"] = *notes;
    if (zip) feed["zip"] = *zip;
    return feed.dump();
}

void expectAlert(const AlertContent& shown, const AlertContent& expected) {
    EXPECT_EQ(shown.message, expected.message);
    EXPECT_EQ(shown.informative, expected.informative);
}

// Which feeds, zips and times are accepted is tested with the rules; here, that the flow acts on them.
class FlowTest : public ::testing::Test {
public:
    // What the feed server answers; a 200 with `feedBody` unless a test says otherwise.
    std::function<HttpResponse(const HttpRequest&)> answer;
    std::string feedBody;
    LoopbackHttpServer feedServer{[this](const HttpRequest& request) { return answer(request); }};

    Clock::time_point now = start;
    std::vector<std::string> fetchedURLs;
    int answered = 0;

    bool writable = true;
    int writabilityAsked = 0;
    struct InstallCall {
        std::string zip;
        std::string version;
    };
    std::vector<InstallCall> installs;
    std::optional<Failure> installOutcome;
    int installsCompleted = 0;
    int relaunches = 0;
    std::vector<std::string> opened;
    std::vector<std::string> logLines;

    std::vector<AlertContent> alerts;
    std::deque<int> answers;  // the buttons the user chooses, in order; -1 (closed) when none is left

    virtual bool automation() const { return false; }

    void SetUp() override {
        ASSERT_EQ(E2E::enabled(), automation()) << "this test belongs to the other run of the program";
        ASSERT_EQ(platform::settingsFile(), privateFolder / "config" / "tolvar" / "defaults.ini");
        std::error_code ignored;
        fs::remove(platform::settingsFile(), ignored);
        answer = [this](const HttpRequest&) {
            return HttpResponse{.contentType = "application/json", .body = feedBody};
        };
        UpdateFlow::setFlowServices({
            .now = [this] { return now; },
            .fetch =
                [this](const std::string& url, const std::vector<std::pair<std::string, std::string>>& headers,
                       double timeoutSeconds, std::size_t largestBody, std::function<void(platform::HttpReply)> done) {
                    fetchedURLs.push_back(url);
                    const std::string target = automation() ? url : feedServer.url("/downloads/version.json");
                    platform::httpGet(target, headers, timeoutSeconds, largestBody,
                                      [this, done = std::move(done)](platform::HttpReply reply) {
                                          done(std::move(reply));
                                          ++answered;
                                      });
                },
            .canInstallInPlace =
                [this] {
                    ++writabilityAsked;
                    return writable;
                },
            .install =
                [this](const std::string& zip, const std::string& version, SelfUpdate::Completion completion,
                       SelfUpdate::Watch) {
                    installs.push_back({zip, version});
                    // Delivered later on the main loop, as the real installer does.
                    platform::runAfter(0, [this, outcome = installOutcome, completion = std::move(completion)] {
                        completion(outcome);
                        ++installsCompleted;
                    });
                    return SelfUpdate::Worker();
                },
            .relaunch = [this] { ++relaunches; },
            .openURL = [this](const std::string& url) { opened.push_back(url); },
            .systemLog = [this](const std::string& line) { logLines.push_back(line); },
        });
        platform::setModalAlertAnswerer([this](const AlertContent& alert) {
            alerts.push_back(alert);
            if (answers.empty()) return -1;
            const int chosen = answers.front();
            answers.pop_front();
            return chosen;
        });
    }

    void TearDown() override {
        // Nothing of a test may still be in flight: each waits for its checks to end.
        UpdateFlow::setFlowServices(UpdateFlow::processServices());
        // This program never shows a real alert.
        platform::setModalAlertAnswerer([](const AlertContent& alert) {
            ADD_FAILURE() << "alert outside a test: " << alert.message;
            return -1;
        });
    }

    // One check, up to the end of the handling of its answer.
    void check(bool manual, bool atLaunch = false) {
        const int before = answered;
        UpdateCheck::run(manual, atLaunch);
        ASSERT_TRUE(runMainLoopUntil([&] { return answered > before; })) << "the feed answer was never handled";
    }

    // One due test; answers whether it started a check, and waits for that check to end.
    bool checkIfDue(bool atLaunch = false) {
        const auto fetchedBefore = fetchedURLs.size();
        const int before = answered;
        UpdateCheck::runIfDue(atLaunch);
        if (fetchedURLs.size() == fetchedBefore) return false;
        EXPECT_TRUE(runMainLoopUntil([&] { return answered > before; })) << "the feed answer was never handled";
        return true;
    }

    void waitForInstall() {
        ASSERT_TRUE(runMainLoopUntil([&] { return installsCompleted == static_cast<int>(installs.size()); }));
    }

    std::optional<std::string> setting(const std::string& key) const { return platform::readSetting(key); }
};

// ---- Checks started as an ordinary start does (no automation mode) --------------------------------

class UpdateFlow : public FlowTest {};

TEST_F(UpdateFlow, CheckOfTheRunningVersionStoresTheCheckTimeAndAlertsOnlyWhenManual) {
    // Outside a bundle the running version is "0".
    ASSERT_EQ(UpdateCheck::currentVersion(), "0");
    feedBody = feedJSON("0", "https://web.tolvar.app/download");
    check(true);
    ASSERT_EQ(alerts.size(), 1u);
    expectAlert(alerts[0], UpdateRules::upToDateAlert("0"));

    // One GET of the default feed with the application's user agent.
    ASSERT_EQ(fetchedURLs, std::vector<std::string>{UpdateCheck::defaultFeed()});
    const auto requests = feedServer.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].header("user-agent"), "TolvarDesktop/0 (Linux)");

    // The stored check time reads back as the same instant to the nanosecond.
    const auto stored = setting(lastCheck);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(UpdateRules::decodeDate(*stored), start);

    now = start + 1h;
    check(false);
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_EQ(setting(lastCheck), UpdateRules::encodeDate(start + 1h));
    EXPECT_TRUE(installs.empty());
    EXPECT_TRUE(logLines.empty());
}

TEST_F(UpdateFlow, FailedChecksAlertOnlyWhenManualAndNeverStoreTheCheckTime) {
    const std::string earlier = "date:2020-01-01T00:00:00.000000000Z";
    answer = [](const HttpRequest&) { return HttpResponse{.status = 500, .body = "down"}; };
    for (const bool manual : {true, false}) {
        ASSERT_TRUE(platform::writeSetting(lastCheck, earlier));
        alerts.clear();
        check(manual);
        ASSERT_EQ(alerts.size(), manual ? 1u : 0u);
        if (manual) expectAlert(alerts[0], UpdateRules::checkFailedAlert());
        EXPECT_EQ(setting(lastCheck), earlier);
    }
    EXPECT_TRUE(installs.empty());
}

TEST_F(UpdateFlow, ManualCheckInstallsATrustedZipWithoutAskingAndRestartsAtOnce) {
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download", "Faster.", "https://web.tolvar.app/Tolvar-2.0.zip");
    check(true);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].zip, "https://web.tolvar.app/Tolvar-2.0.zip");
    EXPECT_EQ(installs[0].version, "2.0");
    EXPECT_EQ(writabilityAsked, 1);
    waitForInstall();
    EXPECT_EQ(relaunches, 1);
    EXPECT_TRUE(alerts.empty()) << "nothing is asked before or after the install";
    EXPECT_TRUE(logLines.empty());
    EXPECT_EQ(setting(std::string(UpdateCheck::installedVersionKey)), "2.0");
}

TEST_F(UpdateFlow, TimerCheckAsksWithTheInstalledAlertAndRestartsOnlyOnRestartNow) {
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download", "Faster saving.", "https://web.tolvar.app/T.zip");
    for (const int button : {1, -1, 0}) {  // Later, closed, Restart Now
        answers = {button};
        check(false);
        waitForInstall();
    }
    ASSERT_EQ(alerts.size(), 3u);
    expectAlert(alerts[0], UpdateRules::installedAlert(*UpdateInfo::decode(feedBody)));
    EXPECT_EQ(relaunches, 1);
}

TEST_F(UpdateFlow, FailedInstallIsLoggedAndOnlyAManualCheckFallsBackToTheOffer) {
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download", {}, "https://web.tolvar.app/T.zip");
    installOutcome = Failure::download("HTTP 404");
    check(false);
    waitForInstall();
    EXPECT_EQ(logLines, std::vector<std::string>{"Tolvar self-update failed: download failed: HTTP 404"});
    EXPECT_TRUE(alerts.empty()) << "a timer check shows nothing after a failed install";

    check(true);
    waitForInstall();
    EXPECT_EQ(logLines.size(), 2u);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "Tolvar 2.0 is available");
    EXPECT_EQ(relaunches, 0);
}

TEST_F(UpdateFlow, AFolderThatIsNotWritableGetsTheOfferInstead) {
    writable = false;
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download", {}, "https://web.tolvar.app/Tolvar-2.0.zip");
    for (const bool manual : {true, false}) check(manual);
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[1].message, "Tolvar 2.0 is available");
    EXPECT_EQ(writabilityAsked, 2);
    EXPECT_TRUE(installs.empty());
    EXPECT_TRUE(logLines.empty()) << "an offer is not a failure";
}

TEST_F(UpdateFlow, OfferButtonsOpenTheDownloadPageDoNothingOrSkipTheVersion) {
    ASSERT_TRUE(platform::writeSetting("tolvar.other", "kept"));
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download?from=desktop");
    answers = {1, 0, 2};  // Later, Download, Skip This Version
    check(true);
    EXPECT_TRUE(opened.empty());
    check(true);
    EXPECT_EQ(opened, std::vector<std::string>{"https://web.tolvar.app/download?from=desktop"});
    EXPECT_EQ(setting(skipped), std::nullopt);
    check(true);
    EXPECT_EQ(setting(skipped), "2.0");
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(setting("tolvar.other"), "kept");

    // Automatic checks then stay silent about that version, install nothing, and still count.
    alerts.clear();
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download", {}, "https://web.tolvar.app/T.zip");
    now = start + 1h;
    check(false);
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(installs.empty());
    EXPECT_EQ(setting(lastCheck), UpdateRules::encodeDate(start + 1h));
}

TEST_F(UpdateFlow, RunIfDueWaitsTwentyHoursAfterTheLastAcceptedFeed) {
    answer = [](const HttpRequest&) { return HttpResponse{.status = 500, .body = "down"}; };
    EXPECT_TRUE(checkIfDue());
    EXPECT_TRUE(checkIfDue()) << "a failed check does not count";

    answer = [this](const HttpRequest&) { return HttpResponse{.contentType = "application/json", .body = feedBody}; };
    feedBody = feedJSON("0", "https://web.tolvar.app/download");
    EXPECT_TRUE(checkIfDue());
    now = start + 20h - 1ms;
    EXPECT_FALSE(checkIfDue(true));
    now = start + 20h;
    EXPECT_TRUE(checkIfDue());
    EXPECT_FALSE(checkIfDue(true)) << "the check just made counts";
    EXPECT_TRUE(alerts.empty());
}

// ---- Checks in automation mode ----------------------------------------------------------------------

class UpdateFlowAutomation : public FlowTest {
public:
    bool automation() const override { return true; }

    void SetUp() override {
        FlowTest::SetUp();
        ASSERT_EQ(setenv("TOLVAR_UPDATE_FEED", feedServer.url("/feeds/version.json").c_str(), 1), 0);
        ASSERT_EQ(setenv("TOLVAR_E2E_PRETEND_VERSION", "1.0", 1), 0);
    }
    void TearDown() override {
        unsetenv("TOLVAR_UPDATE_FEED");
        unsetenv("TOLVAR_E2E_PRETEND_VERSION");
        FlowTest::TearDown();
    }
};

// Reading the feed named by TOLVAR_UPDATE_FEED and installing a loopback zip are proven end to end.
TEST_F(UpdateFlowAutomation, EveryAlertIsNotedInTheJournalBeforeItShows) {
    feedBody = feedJSON("1.0", feedServer.url("/download"));
    check(true);
    writable = false;
    feedBody = feedJSON("2.0", feedServer.url("/download"), {}, feedServer.url("/Tolvar-2.0.zip"));
    check(false);
    ASSERT_EQ(alerts.size(), 2u);

    std::vector<std::string> messages;
    for (const auto& event : testsupport::Journal(*E2E::dir()).events()) {
        if (event.value("event", "") == "update-alert") messages.push_back(event.value("message", ""));
    }
    EXPECT_EQ(messages, (std::vector<std::string>{alerts[0].message, alerts[1].message}));
}

}  // namespace

int main(int argc, char** argv) {
    // Settings and journal go to this process's own folder, named before anything reads the environment.
    std::string pattern = (fs::temp_directory_path() / "tolvar-flow-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    privateFolder = pattern;
    setenv("XDG_CONFIG_HOME", (privateFolder / "config").c_str(), 1);
    unsetenv("TOLVAR_UPDATE_FEED");
    unsetenv("TOLVAR_E2E_PRETEND_VERSION");
    if (getenv("TOLVAR_FLOW_TEST_AUTOMATION") != nullptr) {
        fs::create_directories(privateFolder / "automation");
        setenv("TOLVAR_E2E_DIR", (privateFolder / "automation").c_str(), 1);
    } else {
        unsetenv("TOLVAR_E2E_DIR");
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    std::error_code ignored;
    fs::remove_all(privateFolder, ignored);
    return status;
}
