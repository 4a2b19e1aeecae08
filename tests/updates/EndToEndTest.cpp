// The application updates itself end to end: the running build 1.0, installed in a folder of its own,
// finds 2.0 of the same team on the stand-in service, installs it in place and starts again as 2.0,
// which says so in a desktop notification. A manual install shows its progress and can be cancelled.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

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
        return waitUntil([&] { return testsupport::readFile(log_).find("ready\n") != std::string::npos; });
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

    bool waitForNotification() const {
        return waitUntil([&] { return !notifications().empty(); });
    }

private:
    static bool waitUntil(const std::function<bool()>& done) {
        for (const auto end = std::chrono::steady_clock::now() + 30s; std::chrono::steady_clock::now() < end;) {
            if (done()) return true;
            std::this_thread::sleep_for(100ms);
        }
        return done();
    }

    fs::path log_;
    AppProcess process_;
};

TEST(SelfUpdateEndToEnd, InstallsTheNewerBuildAndStartsAgainAsIt) {
    TemporaryFolder home;
    const fs::path apps = home.path() / "apps";
    const fs::path installed = apps / "Tolvar.app";
    const fs::path releases = home.path() / "releases";
    const fs::path automation = home.path() / "automation";
    for (const auto& folder : {apps, releases, automation, home.path() / "service"}) fs::create_directories(folder);
    ASSERT_EQ(std::system(("cp -a '" + (fixtures / "1.0" / "Tolvar.app").string() + "' '" + installed.string() + "'").c_str()), 0);
    fs::copy_file(fixtures / "releases" / "Tolvar-2.0.zip", releases / "Tolvar-2.0.zip");

    testsupport::ServiceProcess service(
        {"--port", "0", "--data", (home.path() / "service").string(), "--releases", releases.string()});
    ASSERT_TRUE(service.base().starts_with("http://127.0.0.1:")) << "the stand-in service did not start";
    std::ofstream(releases / "version.json") << R"({"version": "2.0", "url": ")" << service.base()
                                             << R"(/downloads/", "notes": "Faster.", "zip": ")" << service.base()
                                             << R"(/downloads/Tolvar-2.0.zip"})";

    // The start page records the user agent of every application that loads it.
    LoopbackHttpServer page([](const HttpRequest&) { return HttpResponse{.body = "<html><title>start</title></html>"}; });

    auto env = testsupport::userEnvironment(home.path());
    for (const char* name : {"TOLVAR_E2E_SESSION", "TOLVAR_E2E_PRETEND_VERSION", "TOLVAR_E2E_EXPECT_TEAM", "TMPDIR"}) {
        env[name] = std::nullopt;
    }
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_UPDATE_FEED"] = service.base() + "/downloads/version.json";
    env["TOLVAR_START_URL"] = page.url("/start");
    env["TMPDIR"] = (home.path() / "tmp").string();
    fs::create_directories(home.path() / "tmp");

    const FakeNotifications notifications(home.path());
    ASSERT_TRUE(notifications.ready()) << "the fake notification service did not start";
    AppProcess app(installed / "bin" / "tolvar", env);
    const Journal journal(automation);
    const auto event = journal.waitFor("self-update", 90s);
    ASSERT_TRUE(event.has_value()) << "no self-update event";
    EXPECT_EQ(event->value("ok", false), true) << event->dump();
    EXPECT_EQ(event->value("version", ""), "2.0");
    EXPECT_EQ(event->value("error", "?"), "");

    EXPECT_EQ(bundlesig::infoValue(installed, "CFBundleShortVersionString"), "2.0");
    const auto verified = bundlesig::verify(installed);
    EXPECT_TRUE(verified.ok) << verified.text;
    std::ifstream teamFile(fixtures / "team.txt");
    std::string team;
    std::getline(teamFile, team);
    EXPECT_EQ(verified.text, team);

    // The relaunched application names its new version in its user agent.
    EXPECT_TRUE(page.waitForRequest(
        [](const HttpRequest& request) { return request.header("user-agent").find("TolvarDesktop/2.0 (Linux)") != std::string::npos; },
        60s))
        << "the application did not start again as 2.0";
    // The start into 2.0 says so once; the ordinary start of 1.0 before it said nothing.
    ASSERT_TRUE(notifications.waitForNotification()) << "no notification after the update";
    const auto notified = notifications.notifications();
    ASSERT_EQ(notified.size(), 1u);
    EXPECT_NE(notified[0].find("|Tolvar was updated to 2.0|"), std::string::npos) << notified[0];
    for (const auto& entry : fs::directory_iterator(apps)) EXPECT_EQ(entry.path().filename(), "Tolvar.app");
    for (const auto& entry : fs::directory_iterator(home.path() / "tmp")) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("tolvar-update-")) << entry.path();
    }
    app.terminate();
}

TEST(SelfUpdateEndToEnd, ManualInstallShowsItsProgressAndCancelLeavesTheBundleAsItWas) {
    TemporaryFolder home;
    const fs::path apps = home.path() / "apps";
    const fs::path installed = apps / "Tolvar.app";
    const fs::path automation = home.path() / "automation";
    for (const auto& folder : {apps, automation, home.path() / "tmp"}) fs::create_directories(folder);
    ASSERT_EQ(std::system(("cp -a '" + (fixtures / "1.0" / "Tolvar.app").string() + "' '" + installed.string() + "'").c_str()), 0);
    const auto before = bundlesig::manifest(installed);
    ASSERT_TRUE(before.ok) << before.text;

    // The feed names the running version to the launch check and 2.0 to the manual check after it.
    // The archive comes slowly and stops half way, so the cancel always meets a download in progress.
    const std::string archive = testsupport::readFile(fixtures / "releases" / "Tolvar-2.0.zip");
    std::mutex feedMutex;
    int feedRequests = 0;
    LoopbackHttpServer* server = nullptr;
    LoopbackHttpServer service([&](const HttpRequest& request) {
        if (request.target == "/downloads/version.json") {
            std::lock_guard lock(feedMutex);
            const std::string version = ++feedRequests == 1 ? "1.0" : "2.0";
            return HttpResponse{.contentType = "application/json",
                                .body = R"({"version": ")" + version + R"(", "url": ")" + server->url("/downloads/") +
                                        R"(", "zip": ")" + server->url("/downloads/Tolvar-2.0.zip") + R"("})"};
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
    server = &service;

    auto env = testsupport::userEnvironment(home.path());
    for (const char* name : {"TOLVAR_E2E_SESSION", "TOLVAR_E2E_PRETEND_VERSION", "TOLVAR_E2E_EXPECT_TEAM"}) {
        env[name] = std::nullopt;
    }
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_UPDATE_FEED"] = service.url("/downloads/version.json");
    env["TOLVAR_START_URL"] = service.url("/start");
    env["TMPDIR"] = (home.path() / "tmp").string();

    const FakeNotifications notifications(home.path());
    ASSERT_TRUE(notifications.ready()) << "the fake notification service did not start";
    AppProcess app(installed / "bin" / "tolvar", env);
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
    for (const auto& entry : fs::directory_iterator(apps)) EXPECT_EQ(entry.path().filename(), "Tolvar.app");
    for (const auto& entry : fs::directory_iterator(home.path() / "tmp")) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("tolvar-update-")) << entry.path();
    }
    // An ordinary start announces no update.
    EXPECT_TRUE(notifications.notifications().empty());
    app.terminate();
}

// How the test makes the folder holding the installed bundle unwritable for the application. An
// ordinary user loses write permission with the folder's mode. The superuser writes through modes, so
// the application then runs in a mount namespace of its own (unshare) in which the folder is bound
// read-only onto itself: access(W_OK), which the installer asks, answers EROFS even for the
// superuser, and when the test ends the namespace goes with its last process, so no mount can be
// left behind on the machine.
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
                             "# Starts the application with its folder read-only, in a mount namespace of its own.\n"
                             "exec unshare --mount --propagation private /bin/sh -c '"
                             "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && "
                             "if [ -n \"$1\" ]; then exec \"$1\"; else [ ! -w \"$0\" ]; fi' '"
                          << folder.string() << "' \"$1\"\n";
    fs::permissions(script, fs::perms(0755), fs::perm_options::replace);
    // A trial run without the application: the folder must come out read-only.
    if (std::system(("'" + script.string() + "' '' 2>/dev/null").c_str()) != 0) {
        return {{}, "cannot give the application a read-only folder here (unshare and mount as the superuser)"};
    }
    const fs::path launcher = scratch / "launch.sh";
    std::ofstream(launcher) << "#!/bin/sh\nexec '" << script.string() << "' '" << application.string() << "'\n";
    fs::permissions(launcher, fs::perms(0755), fs::perm_options::replace);
    return {launcher, {}};
}

TEST(SelfUpdateEndToEnd, AppFolderNotWritableOffersTheUpdateWithoutDownloadingIt) {
    TemporaryFolder home;
    const fs::path apps = home.path() / "apps";
    const fs::path installed = apps / "Tolvar.app";
    const fs::path automation = home.path() / "automation";
    const fs::path scratch = home.path() / "scratch";
    for (const auto& folder : {apps, automation, scratch, home.path() / "tmp"}) fs::create_directories(folder);
    ASSERT_EQ(std::system(("cp -a '" + (fixtures / "1.0" / "Tolvar.app").string() + "' '" + installed.string() + "'").c_str()), 0);
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

    auto env = testsupport::userEnvironment(home.path());
    for (const char* name : {"TOLVAR_E2E_SESSION", "TOLVAR_E2E_PRETEND_VERSION", "TOLVAR_E2E_EXPECT_TEAM"}) {
        env[name] = std::nullopt;
    }
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_UPDATE_FEED"] = service.url("/downloads/version.json");
    env["TOLVAR_START_URL"] = service.url("/start");
    env["TMPDIR"] = (home.path() / "tmp").string();

    AppProcess app(launch.executable, env);
    const Journal journal(automation);
    const auto alert = journal.waitFor("update-alert", 60s);
    ASSERT_TRUE(alert.has_value()) << "no alert came up";
    EXPECT_EQ(alert->value("message", ""), "Tolvar 2.0 is available");
    EXPECT_EQ(alert->value("informative", ""),
              "You have 1.0.\n\nDownload the new version, unzip it, and run Tolvar.app/bin/tolvar --install to replace this one.");
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
    for (const auto& entry : fs::directory_iterator(apps)) EXPECT_EQ(entry.path().filename(), "Tolvar.app");
    for (const auto& entry : fs::directory_iterator(home.path() / "tmp")) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("tolvar-update-")) << entry.path();
    }
}

}  // namespace
