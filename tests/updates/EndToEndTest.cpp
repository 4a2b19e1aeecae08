// The application updates itself end to end: the running build 1.0, installed in a folder of its own,
// finds 2.0 of the same team on the stand-in service, installs it in place and starts again as 2.0,
// which says so in a desktop notification. A manual install shows its progress and can be cancelled.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>

#include <unistd.h>

#include "tests/support/DevService.h"
#include "tests/support/AppProcess.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tools/BundleSignature.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::AppProcess;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::Journal;
using testsupport::LoopbackHttpServer;
using testsupport::TemporaryFolder;

const fs::path fixtures = TOLVAR_UPDATE_FIXTURES;

// The fake notification service on the test's private bus, and what it was asked.
class FakeNotifications {
public:
    explicit FakeNotifications(const fs::path& folder)
        : log_(folder / "notifications.log"), process_(FAKE_NOTIFICATIONS, {}, {log_.string()}) {}

    bool ready() const {
        return testsupport::waitUntil([&] { return testsupport::readFile(log_).find("ready\n") != std::string::npos; }, 30s);
    }

    // The "Notify" lines: "Notify <application>|<summary>|<body>".
    std::vector<std::string> notifications() const {
        std::vector<std::string> found;
        std::istringstream lines(testsupport::readFile(log_));
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("Notify ")) found.push_back(line);
        }
        return found;
    }

private:
    fs::path log_;
    AppProcess process_;
};

// Build 1.0 installed in a folder of its own under a temporary home, and the environment that starts it
// with the automation journal and the given update feed.
class SelfUpdateEndToEnd : public ::testing::Test {
protected:
    TemporaryFolder home;
    fs::path apps = home.path() / "apps";
    fs::path installed = apps / "Tolvar.app";
    fs::path automation = home.path() / "automation";
    fs::path tmp = home.path() / "tmp";

    void SetUp() override {
        for (const auto& folder : {apps, automation, tmp}) fs::create_directories(folder);
        ASSERT_EQ(std::system(("cp -a '" + (fixtures / "1.0" / "Tolvar.app").string() + "' '" + installed.string() + "'").c_str()), 0);
    }

    std::map<std::string, std::optional<std::string>> environment(const std::string& feed, const std::string& start) const {
        auto env = testsupport::userEnvironment(home.path());
        for (const char* name : {"TOLVAR_E2E_SESSION", "TOLVAR_E2E_PRETEND_VERSION", "TOLVAR_E2E_EXPECT_TEAM"}) {
            env[name] = std::nullopt;
        }
        env["TOLVAR_E2E_DIR"] = automation.string();
        env["TOLVAR_UPDATE_FEED"] = feed;
        env["TOLVAR_START_URL"] = start;
        env["TMPDIR"] = tmp.string();
        return env;
    }

    // Only the bundle is left in its folder, and no working folder of the installer in TMPDIR.
    void expectNoLeftovers() const {
        for (const auto& entry : fs::directory_iterator(apps)) EXPECT_EQ(entry.path().filename(), "Tolvar.app");
        for (const auto& entry : fs::directory_iterator(tmp)) {
            EXPECT_FALSE(entry.path().filename().string().starts_with("tolvar-update-")) << entry.path();
        }
    }
};

TEST_F(SelfUpdateEndToEnd, InstallsTheNewerBuildAndStartsAgainAsIt) {
    const fs::path releases = home.path() / "releases";
    for (const auto& folder : {releases, home.path() / "service"}) fs::create_directories(folder);
    fs::copy_file(fixtures / "releases" / "Tolvar-2.0.zip", releases / "Tolvar-2.0.zip");

    testsupport::ServiceProcess service(
        {"--port", "0", "--data", (home.path() / "service").string(), "--releases", releases.string()});
    std::ofstream(releases / "version.json") << R"({"version": "2.0", "url": ")" << service.base()
                                             << R"(/downloads/", "notes": "Faster.", "zip": ")" << service.base()
                                             << R"(/downloads/Tolvar-2.0.zip"})";

    // The start page records the user agent of every application that loads it.
    LoopbackHttpServer page([](const HttpRequest&) { return HttpResponse{.body = "<html><title>start</title></html>"}; });

    const FakeNotifications notifications(home.path());
    ASSERT_TRUE(notifications.ready()) << "the fake notification service did not start";
    AppProcess app(installed / "bin" / "tolvar", environment(service.base() + "/downloads/version.json", page.url("/start")));
    const Journal journal(automation);
    const auto event = journal.waitFor("self-update", 90s);
    ASSERT_TRUE(event.has_value()) << "no self-update event";
    EXPECT_EQ(event->value("ok", false), true) << event->dump();
    EXPECT_EQ(event->value("version", ""), "2.0");
    EXPECT_EQ(event->value("error", "?"), "");

    EXPECT_EQ(bundlesig::infoValue(installed, "CFBundleShortVersionString"), "2.0");
    const auto verified = bundlesig::verify(installed);
    EXPECT_TRUE(verified.ok) << verified.text;
    EXPECT_EQ(verified.text + "\n", testsupport::readFile(fixtures / "team.txt"));

    // The relaunched application names its new version in its user agent.
    EXPECT_TRUE(page.waitForRequest(
        [](const HttpRequest& request) { return request.header("user-agent").find("TolvarDesktop/2.0 (Linux)") != std::string::npos; },
        60s))
        << "the application did not start again as 2.0";
    // The start into 2.0 says so once; the ordinary start of 1.0 before it said nothing.
    ASSERT_TRUE(testsupport::waitUntil([&] { return !notifications.notifications().empty(); }, 30s))
        << "no notification after the update";
    const auto notified = notifications.notifications();
    ASSERT_EQ(notified.size(), 1u);
    EXPECT_NE(notified[0].find("|Tolvar was updated to 2.0|"), std::string::npos) << notified[0];
    expectNoLeftovers();
    app.terminate();
}

TEST_F(SelfUpdateEndToEnd, ManualInstallShowsItsProgressAndCancelLeavesTheBundleAsItWas) {
    const auto before = bundlesig::manifest(installed);
    ASSERT_TRUE(before.ok) << before.text;

    // The feed names the running version to the launch check and 2.0 to the manual check after it.
    // The archive comes slowly and stops half way, so the cancel always meets a download in progress.
    const std::string archive = testsupport::readFile(fixtures / "releases" / "Tolvar-2.0.zip");
    std::mutex feedMutex;
    int feedRequests = 0;
    LoopbackHttpServer service([&](const HttpRequest& request) {
        if (request.target == "/downloads/version.json") {
            std::lock_guard lock(feedMutex);
            const std::string version = ++feedRequests == 1 ? "1.0" : "2.0";
            return HttpResponse{.contentType = "application/json",
                                .body = R"({"version": ")" + version + R"(", "url": ")" + service.url("/downloads/") +
                                        R"(", "zip": ")" + service.url("/downloads/Tolvar-2.0.zip") + R"("})"};
        }
        if (request.target == "/downloads/Tolvar-2.0.zip") {
            // The first piece, then more every 100 ms for as long as the client reads.
            return HttpResponse{.contentType = "application/zip",
                                .body = archive.substr(0, 32768),
                                .announcedLength = archive.size(),
                                .then = HttpResponse::Then::repeat,
                                .repeated = archive.substr(32768, 32768),
                                .pause = 100ms};
        }
        return HttpResponse{.status = 404, .body = "not found"};
    });

    AppProcess app(installed / "bin" / "tolvar", environment(service.url("/downloads/version.json"), service.url("/start")));
    const Journal journal(automation);
    ASSERT_TRUE(service.waitForRequest([](const HttpRequest& r) { return r.target == "/downloads/version.json"; }, 60s))
        << "no launch check";
    std::ofstream(automation / "cmd", std::ios::app) << "check-for-updates\n" << std::flush;

    // The window's bar counts the bytes of the announced total as they arrive.
    const auto downloading = [](std::uint64_t after) {
        return [after](const nlohmann::json& event) {
            return event.value("phase", "") == "downloading" && event.value("received", 0ull) > after;
        };
    };
    const auto first = journal.waitFor("update-progress", 60s, downloading(0));
    ASSERT_TRUE(first.has_value()) << "no progress shown";
    const auto later = journal.waitFor("update-progress", 60s, downloading(first->value("received", 0ull)));
    ASSERT_TRUE(later.has_value()) << "the figures did not grow";
    const std::regex figures(R"(\d+(\.\d)? (bytes|kB|MB) of \d+\.\d MB)");
    for (const auto& event : {*first, *later}) {
        EXPECT_EQ(event.value("version", ""), "2.0");
        EXPECT_EQ(event.value("total", 0ull), archive.size());
        EXPECT_TRUE(std::regex_match(event.value("shown", ""), figures)) << event.dump();
    }
    EXPECT_NE(first->value("shown", ""), later->value("shown", ""));

    std::ofstream(automation / "cmd", std::ios::app) << "cancel-update\n" << std::flush;
    const auto cancelling = journal.waitFor("update-progress", 30s, [](const nlohmann::json& event) {
        return event.value("phase", "") == "cancelling";
    });
    ASSERT_TRUE(cancelling.has_value());
    EXPECT_EQ(cancelling->value("shown", ""), "Cancelling…");
    const auto outcome = journal.waitFor("self-update", 30s);
    ASSERT_TRUE(outcome.has_value()) << "the install did not stop";
    EXPECT_EQ(outcome->value("ok", true), false);
    EXPECT_EQ(outcome->value("error", ""), "cancelled by the user");
    EXPECT_EQ(outcome->value("version", ""), "2.0");

    // Nothing is offered, nothing restarts, and the bundle is exactly as it was.
    EXPECT_TRUE(app.running());
    const auto requests = service.requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const HttpRequest& r) { return r.target == "/downloads/Tolvar-2.0.zip"; }),
              1);
    for (const auto& event : journal.events()) EXPECT_NE(event.value("event", ""), "update-alert") << event.dump();
    const auto after = bundlesig::manifest(installed);
    EXPECT_TRUE(after.ok && after.text == before.text) << "the installed bundle changed";
    expectNoLeftovers();
    app.terminate();
}

// Makes the bundle's folder unwritable for the application: by its mode for an ordinary user; for the
// superuser, who writes through modes, by a read-only bind mount in a mount namespace of the
// application's own, which ends with its last process and so leaves no mount behind.
struct ReadOnlyLaunch {
    fs::path executable;  // what the test starts: the application, or a script that starts it
    std::string skipReason;
};

ReadOnlyLaunch readOnlyLaunch(const fs::path& folder, const fs::path& application, const fs::path& scratch) {
    if (geteuid() != 0) {
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
        return {application, {}};
    }
    const fs::path script = scratch / "run-read-only.sh";
    std::ofstream(script) << "#!/bin/sh\n"
                             "exec unshare --mount --propagation private /bin/sh -c '"
                             "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && "
                             "if [ -n \"$1\" ]; then exec \"$1\"; else [ ! -w \"$0\" ]; fi' '"
                          << folder.string() << "' \"$1\"\n";
    fs::permissions(script, fs::perms(0755), fs::perm_options::replace);
    if (std::system(("'" + script.string() + "' '' 2>/dev/null").c_str()) != 0) {
        return {{}, "cannot give the application a read-only folder here (unshare and mount as the superuser)"};
    }
    const fs::path launcher = scratch / "launch.sh";
    std::ofstream(launcher) << "#!/bin/sh\nexec '" << script.string() << "' '" << application.string() << "'\n";
    fs::permissions(launcher, fs::perms(0755), fs::perm_options::replace);
    return {launcher, {}};
}

TEST_F(SelfUpdateEndToEnd, AppFolderNotWritableOffersTheUpdateWithoutDownloadingIt) {
    const fs::path scratch = home.path() / "scratch";
    fs::create_directories(scratch);
    const auto before = bundlesig::manifest(installed);
    ASSERT_TRUE(before.ok) << before.text;

    // The feed and the archive on one loopback server, which records every request.
    const std::string archive = testsupport::readFile(fixtures / "releases" / "Tolvar-2.0.zip");
    std::string feed;
    LoopbackHttpServer service([&](const HttpRequest& request) {
        if (request.target == "/downloads/version.json") return HttpResponse{.contentType = "application/json", .body = feed};
        if (request.target == "/downloads/Tolvar-2.0.zip") return HttpResponse{.contentType = "application/zip", .body = archive};
        return HttpResponse{.status = 404, .body = "not found"};
    });
    feed = R"({"version": "2.0", "url": ")" + service.url("/downloads/") + R"(", "zip": ")" +
           service.url("/downloads/Tolvar-2.0.zip") + R"("})";

    const auto launch = readOnlyLaunch(apps, installed / "bin" / "tolvar", scratch);
    if (!launch.skipReason.empty()) GTEST_SKIP() << launch.skipReason;

    AppProcess app(launch.executable, environment(service.url("/downloads/version.json"), service.url("/start")));
    const Journal journal(automation);
    const auto alert = journal.waitFor("update-alert", 60s);
    ASSERT_TRUE(alert.has_value()) << "no alert came up";
    EXPECT_EQ(alert->value("message", ""), "Tolvar 2.0 is available");
    // The launch check read the feed, and nothing else was fetched from the service.
    const auto requests = service.requests();
    std::size_t feedRequests = 0;
    for (const auto& request : requests) {
        EXPECT_NE(request.target, "/downloads/Tolvar-2.0.zip") << "the archive was downloaded";
        if (request.target == "/downloads/version.json") {
            ++feedRequests;
            EXPECT_EQ(request.header("user-agent"), "TolvarDesktop/1.0 (Linux)");
        }
    }
    EXPECT_EQ(feedRequests, 1u);
    app.terminate(std::chrono::seconds(3));

    for (const auto& event : journal.events()) {
        EXPECT_NE(event.value("event", ""), "self-update") << "an install was attempted: " << event.dump();
    }
    if (geteuid() != 0) fs::permissions(apps, fs::perms::owner_all, fs::perm_options::replace);
    const auto after = bundlesig::manifest(installed);
    EXPECT_TRUE(after.ok && after.text == before.text) << "the installed bundle changed";
    EXPECT_TRUE(bundlesig::verify(installed).ok);
    expectNoLeftovers();
}

}  // namespace
