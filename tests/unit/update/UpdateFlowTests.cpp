// The update check's whole flow in this process: UpdateCheck::run and UpdateCheck::runIfDue fetch a
// real feed over HTTP from a loopback server, handle it on the GLib main loop, write the real
// settings file (under a private XDG_CONFIG_HOME) and show their alerts through the alert answerer.
// The clock, the installer, the relaunch, the browser and the system log are stand-ins that record
// what they were asked, so the 20-hour rule is tested in milliseconds and nothing is installed,
// opened or restarted.
//
// The program runs twice: once as an ordinary start ("UpdateFlow.*") and once in automation mode
// ("UpdateFlowAutomation.*", with TOLVAR_FLOW_TEST_AUTOMATION set), since that mode is fixed for a
// process.

#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "automation/E2E.h"
#include "platform/MainLoop.h"
#include "platform/ModalAlert.h"
#include "platform/ProgressWindow.h"
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

// An address on which nothing listens: a port that was free a moment ago.
std::string closedPortURL() {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    close(listener);
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/downloads/version.json";
}

void expectAlert(const AlertContent& shown, const AlertContent& expected) {
    EXPECT_EQ(shown.message, expected.message);
    EXPECT_EQ(shown.informative, expected.informative);
    EXPECT_EQ(shown.buttons, expected.buttons);
}

// Which feeds, zips and times are accepted is tested with the rules themselves; here, that the flow
// acts on the rules' answers: alerts, settings, installs and relaunches.
// Drives checks against a loopback feed with stand-ins for everything past the settings file.
class FlowTest : public ::testing::Test {
public:
    // What the feed server answers; a 200 with `feedBody` unless a test says otherwise.
    std::function<HttpResponse(const HttpRequest&)> answer;
    std::string feedBody;
    LoopbackHttpServer feedServer{[this](const HttpRequest& request) { return answer(request); }};
    // Where the feed request really goes; by default the loopback server.
    std::optional<std::string> redirect;

    Clock::time_point now = start;
    std::vector<std::string> fetchedURLs;
    int answered = 0;

    bool writable = true;
    int writabilityAsked = 0;
    struct InstallCall {
        std::string zip;
        std::string version;
        SelfUpdate::Watch watch;
    };
    std::vector<InstallCall> installs;
    std::optional<Failure> installOutcome;
    int installsCompleted = 0;
    bool holdInstalls = false;  // keeps the next completion for the test to deliver
    SelfUpdate::Completion heldCompletion;

    // The progress window of a manual install: what it was shown, and its Cancel button.
    struct RecordingWindow : platform::ProgressWindow {
        RecordingWindow(FlowTest& test, std::string title, std::function<void()> cancel) : test(test) {
            test.windowTitle = std::move(title);
            test.clickCancel = std::move(cancel);
            ++test.windowsOpen;
        }
        ~RecordingWindow() override { --test.windowsOpen; }
        void show(const platform::ProgressContent& content) override { test.shown.push_back(content); }
        std::string barText() const override { return test.shown.empty() ? "" : test.shown.back().barText; }
        void clickCancel() override { test.clickCancel(); }
        FlowTest& test;
    };
    int windowsOpen = 0;
    std::string windowTitle;
    std::vector<platform::ProgressContent> shown;
    std::function<void()> clickCancel;
    std::vector<std::string> notified;
    int relaunches = 0;
    std::vector<std::string> opened;
    std::vector<std::string> logLines;

    std::vector<AlertContent> alerts;
    std::deque<int> answers;  // the buttons the user chooses, in order; -1 (closed) when none is left

    virtual bool automation() const { return false; }
    virtual std::string feedPath() const { return "/downloads/version.json"; }

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
                    const std::string target =
                        redirect ? *redirect : (automation() ? url : feedServer.url(feedPath()));
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
                       SelfUpdate::Watch watch) {
                    installs.push_back({zip, version, std::move(watch)});
                    if (holdInstalls) {
                        heldCompletion = std::move(completion);
                        return;
                    }
                    // Delivered later on the main loop, as the real installer does.
                    platform::runAfter(0, [this, outcome = installOutcome, completion = std::move(completion)] {
                        completion(outcome);
                        ++installsCompleted;
                    });
                },
            .relaunch = [this] { ++relaunches; },
            .openURL = [this](const std::string& url) { opened.push_back(url); },
            .systemLog = [this](const std::string& line) { logLines.push_back(line); },
            .progressWindow =
                [this](const std::string& title, std::function<void()> cancel) {
                    return std::make_unique<RecordingWindow>(*this, title, std::move(cancel));
                },
            .notify = [this](const std::string& id, const std::string& title) { notified.push_back(id + ": " + title); },
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

TEST_F(UpdateFlow, ManualCheckOfTheRunningVersionSaysUpToDateAndStoresTheCheckTime) {
    // Outside a bundle the running version is "0".
    ASSERT_EQ(UpdateCheck::currentVersion(), "0");
    feedBody = feedJSON("0", "https://web.tolvar.app/download");
    check(true);

    ASSERT_EQ(alerts.size(), 1u);
    expectAlert(alerts[0], UpdateRules::upToDateAlert("0"));

    // The request: the default feed, one GET with the application's user agent.
    ASSERT_EQ(fetchedURLs, std::vector<std::string>{UpdateCheck::defaultFeed()});
    const auto requests = feedServer.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/downloads/version.json");
    EXPECT_EQ(requests[0].header("user-agent"), "TolvarDesktop/0 (Linux)");

    // The check time, in the settings file, reads back as the same instant to the nanosecond.
    const auto stored = setting(lastCheck);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(*stored, "date:2024-05-01T12:00:00.123456789Z");
    EXPECT_EQ(UpdateRules::decodeDate(*stored), start);
    const std::string file = testsupport::readFile(platform::settingsFile());
    EXPECT_NE(file.find("tolvar.update.lastCheck=date:2024-05-01T12:00:00.123456789Z"), std::string::npos) << file;

    EXPECT_TRUE(installs.empty());
    EXPECT_EQ(relaunches, 0);
    EXPECT_TRUE(logLines.empty());
}

TEST_F(UpdateFlow, AutomaticCheckOfTheRunningVersionIsSilentButStoresTheCheckTime) {
    feedBody = feedJSON("0.0", "https://web.tolvar.app/download");
    check(false);
    EXPECT_TRUE(alerts.empty());
    EXPECT_EQ(setting(lastCheck), UpdateRules::encodeDate(start));
    EXPECT_TRUE(installs.empty());
}

TEST_F(UpdateFlow, FailedChecksAlertOnlyWhenManualAndNeverStoreTheCheckTime) {
    const std::string good = feedJSON("2.0", "https://web.tolvar.app/download", {}, "https://web.tolvar.app/T.zip");
    const std::string refused = closedPortURL();
    const struct {
        std::string name;
        int status;
        std::string body;
        bool networkError;
    } cases[] = {
        {"500", 500, good, false},
        {"200 that is not JSON", 200, "<html>new version!</html>", false},
        {"url on a host that only ends with the domain's letters", 200,
         feedJSON("2.0", "https://eviltolvar.app/", {}, "https://web.tolvar.app/T.zip"), false},
        {"nothing listening", 0, "", true},
    };
    const std::string earlier = "date:2020-01-01T00:00:00.000000000Z";
    for (const auto& c : cases) {
        for (const bool manual : {true, false}) {
            SCOPED_TRACE(c.name + (manual ? " (manual)" : " (automatic)"));
            alerts.clear();
            redirect = c.networkError ? std::optional(refused) : std::nullopt;
            answer = [&](const HttpRequest&) { return HttpResponse{.status = c.status, .body = c.body}; };
            // Once with an earlier check time, once with none: neither changes.
            for (const bool seeded : {true, false}) {
                std::error_code ignored;
                fs::remove(platform::settingsFile(), ignored);
                if (seeded) {
                    ASSERT_TRUE(platform::writeSetting(lastCheck, earlier));
                }
                alerts.clear();
                check(manual);
                if (manual) {
                    ASSERT_EQ(alerts.size(), 1u);
                    expectAlert(alerts[0], UpdateRules::checkFailedAlert());
                } else {
                    EXPECT_TRUE(alerts.empty());
                }
                EXPECT_EQ(setting(lastCheck), seeded ? std::optional(earlier) : std::nullopt);
            }
        }
    }
    EXPECT_TRUE(installs.empty());
    EXPECT_EQ(writabilityAsked, 0);
    EXPECT_EQ(relaunches, 0);
}

TEST_F(UpdateFlow, ManualCheckInstallsATrustedZipWithoutAskingAndRestartsAtOnce) {
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download", "Faster.", "https://web.tolvar.app/Tolvar-2.0.zip");
    check(true);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].zip, "https://web.tolvar.app/Tolvar-2.0.zip");
    EXPECT_EQ(installs[0].version, "2.0");
    EXPECT_EQ(writabilityAsked, 1);
    EXPECT_TRUE(alerts.empty()) << "nothing is asked before the install";
    waitForInstall();
    EXPECT_EQ(relaunches, 1);
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(logLines.empty());
    EXPECT_EQ(setting(lastCheck), UpdateRules::encodeDate(start));
}

TEST_F(UpdateFlow, ManualInstallShowsItsProgressAndACancelEndsItQuietly) {
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download", {}, "https://web.tolvar.app/Tolvar-2.0.zip");
    holdInstalls = true;
    check(true);
    ASSERT_EQ(installs.size(), 1u);
    ASSERT_EQ(windowsOpen, 1);
    EXPECT_EQ(windowTitle, "Updating Tolvar");
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().heading, "Updating to Tolvar 2.0");

    const auto& watch = installs[0].watch;
    ASSERT_TRUE(watch.progress && watch.control);
    watch.progress({InstallProgress::Phase::downloading, 12'300'000, 40'000'000});
    EXPECT_EQ(shown.back().barText, "12.3 MB of 40.0 MB");
    EXPECT_TRUE(shown.back().cancellable);
    watch.progress({InstallProgress::Phase::verifying});
    EXPECT_EQ(shown.back().barText, "Verifying…");

    clickCancel();
    EXPECT_TRUE(watch.control->cancelled());
    EXPECT_EQ(shown.back().barText, "Cancelling…");
    EXPECT_FALSE(shown.back().cancellable);
    // The window stays until the installer has stopped, then goes without a word.
    EXPECT_EQ(windowsOpen, 1);
    heldCompletion(Failure::cancelled());
    ++installsCompleted;
    EXPECT_EQ(windowsOpen, 0);
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(logLines.empty());
    EXPECT_EQ(relaunches, 0);
    EXPECT_EQ(setting(std::string(UpdateCheck::installedVersionKey)), std::nullopt);

    // Automatic installs show nothing and cannot be cancelled.
    holdInstalls = false;
    check(false, true);
    waitForInstall();
    ASSERT_EQ(installs.size(), 2u);
    EXPECT_FALSE(installs[1].watch.progress || installs[1].watch.control);
    EXPECT_EQ(windowsOpen, 0);
}

TEST_F(UpdateFlow, TheStartAfterAnInstallAnnouncesItsVersionOnce) {
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download", {}, "https://web.tolvar.app/Tolvar-2.0.zip");
    check(false, true);
    waitForInstall();
    EXPECT_EQ(relaunches, 1);
    EXPECT_EQ(setting(std::string(UpdateCheck::installedVersionKey)), "2.0");

    // This process still runs "0", as a crash before the swap would leave it: no announcement.
    UpdateCheck::announceInstalledUpdate();
    EXPECT_TRUE(notified.empty());
    EXPECT_EQ(setting(std::string(UpdateCheck::installedVersionKey)), "");

    platform::writeSetting(std::string(UpdateCheck::installedVersionKey), UpdateCheck::currentVersion());
    UpdateCheck::announceInstalledUpdate();
    UpdateCheck::announceInstalledUpdate();
    EXPECT_EQ(notified, std::vector<std::string>{"updated: Tolvar was updated to 0"});
}

TEST_F(UpdateFlow, TimerCheckAsksWithTheInstalledAlertAndRestartsOnlyOnRestartNow) {
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download", "Faster saving.", "https://web.tolvar.app/T.zip");
    answers = {1};  // Later
    check(false);
    waitForInstall();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "Tolvar 2.0 is installed");
    EXPECT_EQ(relaunches, 0);

    feedBody = feedJSON("2.1", "https://web.tolvar.app/download", {}, "https://web.tolvar.app/T.zip");
    answers = {0};  // Restart Now
    check(false);
    waitForInstall();
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[1].message, "Tolvar 2.1 is installed");
    EXPECT_EQ(relaunches, 1);

    answers = {};  // closed without a button
    check(false);
    waitForInstall();
    EXPECT_EQ(alerts.size(), 3u);
    EXPECT_EQ(relaunches, 1);
}

TEST_F(UpdateFlow, FailedInstallIsLoggedAndOnlyAManualCheckFallsBackToTheOffer) {
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download", {}, "https://web.tolvar.app/T.zip");
    installOutcome = Failure::signature("a sealed resource is missing or invalid: file added: bin/x");

    check(false);
    waitForInstall();
    EXPECT_EQ(logLines, std::vector<std::string>{
                            "Tolvar self-update failed: code signature invalid: a sealed resource is missing or "
                            "invalid: file added: bin/x"});
    EXPECT_TRUE(alerts.empty()) << "a timer check shows nothing after a failed install";
    EXPECT_EQ(relaunches, 0);

    installOutcome = Failure::download("HTTP 404");
    check(true);
    waitForInstall();
    ASSERT_EQ(logLines.size(), 2u);
    EXPECT_EQ(logLines[1], "Tolvar self-update failed: download failed: HTTP 404");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "Tolvar 2.0 is available");
    EXPECT_EQ(relaunches, 0);
    EXPECT_EQ(installs.size(), 2u);
}

TEST_F(UpdateFlow, OfferInsteadOfAnInstallWhenTheZipIsUnusableOrTheFolderIsNotWritable) {
    const struct {
        std::string name;
        std::optional<std::string> zip;
        bool writable;
        int writabilityAsked;
    } cases[] = {
        {"zip on another host", "https://downloads.example/Tolvar-2.0.zip", true, 0},
        {"application folder not writable", "https://web.tolvar.app/Tolvar-2.0.zip", false, 1},
    };
    for (const auto& c : cases) {
        for (const bool manual : {true, false}) {
            SCOPED_TRACE(c.name + (manual ? " (manual)" : " (automatic)"));
            alerts.clear();
            writabilityAsked = 0;
            writable = c.writable;
            feedBody = feedJSON("2.0", "https://web.tolvar.app/download", {}, c.zip);
            check(manual);
            ASSERT_EQ(alerts.size(), 1u);
            EXPECT_EQ(alerts[0].message, "Tolvar 2.0 is available");
            EXPECT_EQ(writabilityAsked, c.writabilityAsked);
        }
    }
    EXPECT_TRUE(installs.empty());
    EXPECT_TRUE(logLines.empty()) << "an offer is not a failure";
}

TEST_F(UpdateFlow, OfferButtonsOpenTheDownloadPageDoNothingOrSkipTheVersion) {
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download?from=desktop");

    answers = {1};  // Later
    check(true);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(setting(skipped), std::nullopt);

    answers = {0};  // Download
    check(true);
    EXPECT_EQ(opened, std::vector<std::string>{"https://web.tolvar.app/download?from=desktop"});
    EXPECT_EQ(setting(skipped), std::nullopt);

    answers = {2};  // Skip This Version
    check(true);
    EXPECT_EQ(setting(skipped), "2.0");
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(alerts.size(), 3u);
}

TEST_F(UpdateFlow, SkippedVersionSilencesAutomaticChecksOnly) {
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download");
    answers = {2};
    check(true);
    ASSERT_EQ(setting(skipped), "2.0");

    // Automatic checks stay silent about exactly that version, and still count as checks.
    alerts.clear();
    now = start + 1h;
    check(false);
    EXPECT_TRUE(alerts.empty());
    EXPECT_EQ(setting(lastCheck), UpdateRules::encodeDate(start + 1h));

    // Not even a trusted zip is installed by them.
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download", {}, "https://web.tolvar.app/T.zip");
    check(false);
    EXPECT_TRUE(installs.empty());
    EXPECT_TRUE(alerts.empty());
    EXPECT_EQ(writabilityAsked, 0);

    // "Check for Updates…" ignores the skipped version: it installs...
    check(true);
    ASSERT_EQ(installs.size(), 1u);
    waitForInstall();
    EXPECT_EQ(relaunches, 1);

    // Another version than the skipped one is offered to automatic checks as usual.
    feedBody = feedJSON("2.0.1", "https://web.tolvar.app/download");
    check(false);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "Tolvar 2.0.1 is available");
    EXPECT_EQ(setting(skipped), "2.0") << "never cleared";
}

TEST_F(UpdateFlow, RunIfDueWaitsTwentyHoursAfterTheLastAcceptedFeed) {
    feedBody = feedJSON("0", "https://web.tolvar.app/download");

    // Never checked: due.
    EXPECT_TRUE(checkIfDue());
    EXPECT_EQ(setting(lastCheck), UpdateRules::encodeDate(start));

    now = start + 20h - 1ms;
    EXPECT_FALSE(checkIfDue());
    EXPECT_FALSE(checkIfDue(true));
    now = start + 20h;
    EXPECT_TRUE(checkIfDue()) << "20 h after the last check";
    EXPECT_EQ(setting(lastCheck), UpdateRules::encodeDate(start + 20h));
    EXPECT_FALSE(checkIfDue(true)) << "the check just made counts";
    EXPECT_TRUE(alerts.empty());
    EXPECT_EQ(feedServer.requests().size(), 2u);
}

TEST_F(UpdateFlow, RunIfDueTreatsAnUnreadableCheckTimeAsNeverChecked) {
    feedBody = feedJSON("0", "https://web.tolvar.app/download");
    ASSERT_TRUE(platform::writeSetting(lastCheck, "yesterday"));
    EXPECT_TRUE(checkIfDue());
    EXPECT_EQ(setting(lastCheck), UpdateRules::encodeDate(start));
}

TEST_F(UpdateFlow, RunIfDueTriesAgainAfterAFailedCheck) {
    answer = [](const HttpRequest&) { return HttpResponse{.status = 500, .body = "down"}; };
    EXPECT_TRUE(checkIfDue());
    EXPECT_EQ(setting(lastCheck), std::nullopt);
    now = start + 1min;
    EXPECT_TRUE(checkIfDue()) << "a failed check does not count";
    EXPECT_TRUE(alerts.empty());
}

TEST_F(UpdateFlow, OtherSettingsInTheFileAreKept) {
    ASSERT_TRUE(platform::writeSetting("tolvar.other", "kept"));
    feedBody = feedJSON("2.0", "https://web.tolvar.app/download");
    answers = {2};
    check(true);
    EXPECT_EQ(setting("tolvar.other"), "kept");
    EXPECT_EQ(setting(skipped), "2.0");
    EXPECT_EQ(setting(lastCheck), UpdateRules::encodeDate(start));
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

TEST_F(UpdateFlowAutomation, EveryDueTestChecksTheFeedNamedByTheVariable) {
    feedBody = feedJSON("1.0", feedServer.url("/download"));
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(checkIfDue(i == 0));
        EXPECT_EQ(setting(lastCheck), UpdateRules::encodeDate(now));
        now += 1min;
    }
    ASSERT_EQ(fetchedURLs.size(), 3u);
    EXPECT_EQ(fetchedURLs[0], feedServer.url("/feeds/version.json"));
    const auto requests = feedServer.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/feeds/version.json");
    EXPECT_EQ(requests[0].header("user-agent"), "TolvarDesktop/1.0 (Linux)");
    EXPECT_TRUE(alerts.empty());
}

TEST_F(UpdateFlowAutomation, LoopbackZipIsInstalledAndATimerCheckRestartsWithoutAsking) {
    feedBody = feedJSON("2.0", feedServer.url("/download"), "Notes.", feedServer.url("/Tolvar-2.0.zip"));
    EXPECT_TRUE(checkIfDue(false));
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].zip, feedServer.url("/Tolvar-2.0.zip"));
    waitForInstall();
    EXPECT_EQ(relaunches, 1);
    EXPECT_TRUE(alerts.empty());
}

TEST_F(UpdateFlowAutomation, EveryAlertIsNotedInTheJournalBeforeItShows) {
    feedBody = feedJSON("1.0", feedServer.url("/download"));
    check(true);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].informative, "Tolvar 1.0 is the latest version.");

    writable = false;
    feedBody = feedJSON("2.0", feedServer.url("/download"), {}, feedServer.url("/Tolvar-2.0.zip"));
    check(false);
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[1].message, "Tolvar 2.0 is available");
    EXPECT_TRUE(installs.empty());

    const testsupport::Journal journal(*E2E::dir());
    std::vector<std::string> messages;
    for (const auto& event : journal.events()) {
        if (event.value("event", "") == "update-alert") messages.push_back(event.value("message", ""));
    }
    EXPECT_EQ(messages, (std::vector<std::string>{"You're up to date", "Tolvar 2.0 is available"}));
}

}  // namespace

int main(int argc, char** argv) {
    // Settings and the journal go to a folder of this process alone, named before GLib or the
    // journal first read the environment.
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
