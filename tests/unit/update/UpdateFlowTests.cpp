// UpdateCheck::run, runIfDue and announceInstalledUpdate, as an ordinary start runs them, through
// stand-in flow services: the feed's answer, the settings, the alerts, the clock, installer,
// relaunch, browser, log and notification. Automation mode's journal of alerts is proven end to end.

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <map>

#include "automation/E2E.h"
#include "update/UpdateCheck.h"
#include "update/UpdateFlow.h"
#include "update/UpdateRules.h"

namespace {

using namespace std::chrono_literals;
using SelfUpdate::Failure;
using Strings = std::vector<std::string>;
using UpdateRules::Clock;

// 2024-05-01 12:00:00.123456789 UTC.
const Clock::time_point start = std::chrono::time_point_cast<Clock::duration>(
    std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} + 12h + 123456789ns);

const std::string lastCheck(UpdateCheck::lastCheckKey);
const std::string skipped(UpdateCheck::skippedKey);
const std::string installed(UpdateCheck::installedVersionKey);

// The feed's answer naming `version`.
platform::HttpReply feed(const std::string& version, std::optional<std::string> zip = {},
                         const std::string& url = "https://web.tolvar.app/download") {
    nlohmann::json feed = {{"version", version}, {"url", url}};
    if (zip) feed["zip"] = *zip;
    return {.isHttp = true, .status = 200, .body = feed.dump()};
}

// Which feeds, zips and times are accepted is tested with the rules; here, that the flow acts on them.
class UpdateFlow : public ::testing::Test {
public:
    platform::HttpReply reply;  // what every feed request answers
    Clock::time_point now = start;
    std::map<std::string, std::string> settings;
    Strings fetched;  // "<address> <header>: <value>"
    bool writable = true;
    int writabilityAsked = 0;
    Strings installs;                                   // "<zip> <version>"
    std::optional<Failure> installOutcome;
    std::vector<SelfUpdate::Completion> installsRunning;  // ended by finishInstalls()
    int relaunches = 0;
    Strings opened, logLines, notifications;
    Strings alerts;  // their messages
    std::deque<int> answers;  // the buttons the user chooses, in order; -1 (closed) when none is left

    void SetUp() override {
        ASSERT_FALSE(E2E::enabled()) << "these are the rules of an ordinary start";
        ::UpdateFlow::setFlowServices({
            .now = [this] { return now; },
            .readSetting =
                [this](const std::string& key) {
                    return settings.contains(key) ? std::optional(settings.at(key)) : std::nullopt;
                },
            .writeSetting = [this](const std::string& key, const std::string& value) { return settings[key] = value, true; },
            .fetch =
                [this](const std::string& url, const std::vector<std::pair<std::string, std::string>>& headers, double,
                       std::size_t, std::function<void(platform::HttpReply)> done) {
                    for (const auto& [name, value] : headers) fetched.push_back(url + " " + name + ": " + value);
                    done(reply);
                },
            .canInstallInPlace = [this] { return ++writabilityAsked, writable; },
            .install =
                [this](const std::string& zip, const std::string& version, SelfUpdate::Completion completion,
                       SelfUpdate::Watch) {
                    installs.push_back(zip + " " + version);
                    installsRunning.push_back(std::move(completion));
                    return SelfUpdate::Worker();
                },
            .relaunch = [this] { ++relaunches; },
            .openURL = [this](const std::string& url) { opened.push_back(url); },
            .systemLog = [this](const std::string& line) { logLines.push_back(line); },
            .alert =
                [this](const platform::AlertContent& alert) {
                    alerts.push_back(alert.message);
                    const int chosen = answers.empty() ? -1 : answers.front();
                    if (!answers.empty()) answers.pop_front();
                    return chosen;
                },
            .notify = [this](const std::string& id, const std::string& title) { notifications.push_back(id + " " + title); },
        });
    }
    void TearDown() override { ::UpdateFlow::setFlowServices({}); }

    // Ends the installs started so far, as the installer does later on the main loop.
    void finishInstalls() {
        for (auto& completion : std::exchange(installsRunning, {})) completion(installOutcome);
    }
    // Answers whether the due test started a check.
    bool checkIfDue(bool atLaunch = false) {
        const auto before = fetched.size();
        UpdateCheck::runIfDue(atLaunch);
        return fetched.size() > before;
    }
};

TEST_F(UpdateFlow, CheckOfTheRunningVersionStoresTheCheckTimeAndAlertsOnlyWhenManual) {
    // Outside a bundle the running version is "0".
    ASSERT_EQ(UpdateCheck::currentVersion(), "0");
    reply = feed("0");
    UpdateCheck::run(true);
    EXPECT_EQ(alerts, Strings{UpdateRules::upToDateAlert("0").message});
    // One request of the default feed with the application's user agent.
    EXPECT_EQ(fetched, Strings{UpdateCheck::defaultFeed() + " User-Agent: TolvarDesktop/0 (Linux)"});
    // The stored check time reads back as the same instant to the nanosecond.
    EXPECT_EQ(UpdateRules::decodeDate(settings[lastCheck]), start);

    now = start + 1h;
    UpdateCheck::run(false);
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_EQ(settings[lastCheck], UpdateRules::encodeDate(start + 1h));
    EXPECT_TRUE(installs.empty());

    // Failed checks alert only when manual and never store the check time.
    reply = {.isHttp = true, .status = 500, .body = "down"};
    for (const bool manual : {true, false}) UpdateCheck::run(manual);
    EXPECT_EQ(alerts, (Strings{alerts[0], UpdateRules::checkFailedAlert().message}));
    EXPECT_EQ(settings[lastCheck], UpdateRules::encodeDate(start + 1h));
    EXPECT_TRUE(logLines.empty());
}

TEST_F(UpdateFlow, ManualCheckInstallsATrustedZipWithoutAskingRestartsAndTheNextStartAnnouncesIt) {
    reply = feed("2.0", "https://web.tolvar.app/Tolvar-2.0.zip");
    UpdateCheck::run(true);
    EXPECT_EQ(installs, Strings{"https://web.tolvar.app/Tolvar-2.0.zip 2.0"});
    EXPECT_EQ(writabilityAsked, 1);
    finishInstalls();
    EXPECT_EQ(relaunches, 1);
    EXPECT_TRUE(alerts.empty()) << "nothing is asked before or after the install";
    EXPECT_EQ(settings[installed], "2.0");

    // The next start tells once that it runs the installed version; another version is not announced.
    UpdateCheck::announceInstalledUpdate();
    settings[installed] = "0";
    UpdateCheck::announceInstalledUpdate();
    UpdateCheck::announceInstalledUpdate();
    EXPECT_EQ(notifications, Strings{"updated Tolvar was updated to 0"});
    EXPECT_EQ(settings[installed], "");
}

TEST_F(UpdateFlow, AutomaticInstallsAskToRestartAndFailuresFallBackToTheOfferOnlyWhenManual) {
    reply = feed("2.0", "https://web.tolvar.app/T.zip");
    answers = {1, -1, 0};  // Later, closed, Restart Now
    for (int check = 0; check < 3; ++check) {
        UpdateCheck::run(false);
        finishInstalls();
    }
    EXPECT_EQ(alerts, Strings(3, UpdateRules::installedAlert(*UpdateInfo::decode(*reply.body)).message));
    EXPECT_EQ(relaunches, 1);

    alerts.clear();
    installOutcome = Failure::download("HTTP 404");
    for (const bool manual : {false, true}) {
        UpdateCheck::run(manual);
        finishInstalls();
    }
    EXPECT_EQ(logLines, Strings(2, "Tolvar self-update failed: download failed: HTTP 404"));
    EXPECT_EQ(alerts, Strings{"Tolvar 2.0 is available"}) << "a timer check shows nothing after a failure";
    EXPECT_EQ(relaunches, 1);

    // A folder that is not writable gets the offer instead, which is not a failure.
    writable = false;
    UpdateCheck::run(false);
    EXPECT_EQ(alerts.size(), 2u);
    EXPECT_EQ(installs.size(), 5u);
    EXPECT_EQ(logLines.size(), 2u);
}

TEST_F(UpdateFlow, OfferButtonsOpenTheDownloadPageDoNothingOrSkipTheVersion) {
    reply = feed("2.0", {}, "https://web.tolvar.app/download?from=desktop");
    answers = {1, 0, 2};  // Later, Download, Skip This Version
    UpdateCheck::run(true);
    EXPECT_TRUE(opened.empty());
    UpdateCheck::run(true);
    EXPECT_EQ(opened, Strings{"https://web.tolvar.app/download?from=desktop"});
    EXPECT_FALSE(settings.contains(skipped));
    UpdateCheck::run(true);
    EXPECT_EQ(settings[skipped], "2.0");
    EXPECT_EQ(opened.size(), 1u);

    // Automatic checks then stay silent about that version, install nothing, and still count.
    alerts.clear();
    reply = feed("2.0", "https://web.tolvar.app/T.zip");
    now = start + 1h;
    UpdateCheck::run(false);
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(installs.empty());
    EXPECT_EQ(settings[lastCheck], UpdateRules::encodeDate(start + 1h));
}

TEST_F(UpdateFlow, RunIfDueWaitsTwentyHoursAfterTheLastAcceptedFeed) {
    reply = {.error = "Connection refused"};
    EXPECT_TRUE(checkIfDue());
    EXPECT_TRUE(checkIfDue()) << "a failed check does not count";

    reply = feed("0");
    EXPECT_TRUE(checkIfDue());
    now = start + 20h - 1ms;
    EXPECT_FALSE(checkIfDue(true));
    now = start + 20h;
    EXPECT_TRUE(checkIfDue());
    EXPECT_FALSE(checkIfDue(true)) << "the check just made counts";
    EXPECT_TRUE(alerts.empty());
}

}  // namespace
