#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>

#include "tests/support/AppProcess.h"
#include "tests/support/LoopbackHttpServer.h"

namespace {

using testsupport::commandOutput;

using namespace std::chrono_literals;
using testsupport::AppProcess;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::Journal;
using testsupport::LoopbackHttpServer;
using testsupport::TemporaryFolder;
namespace fs = std::filesystem;

constexpr auto eventTimeout = 30s;

HttpResponse page(const std::string& title, const std::string& colour) {
    return {.body = "<!doctype html><html><head><title>" + title + "</title></head><body style=\"margin:0;background:" +
                    colour + "\"><h1>" + title + "</h1></body></html>"};
}

std::string visibleMainWindow() {
    auto id = commandOutput("xdotool search --onlyvisible --name '^Tolvar$' 2>/dev/null | head -n 1");
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
    return id;
}

std::string waitForVisibleMainWindow(bool visible) {
    const auto deadline = std::chrono::steady_clock::now() + eventTimeout;
    std::string id;
    while ((id = visibleMainWindow()).empty() == visible && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    return id;
}

class ShellTest : public ::testing::Test {
protected:
    TemporaryFolder home;
    std::map<std::string, std::optional<std::string>> env = testsupport::userEnvironment(home.path());
    fs::path automation = home.path() / "automation";

    void SetUp() override {
        fs::create_directories(automation);
        // Nothing inherited from the person running the tests may steer the application.
        for (const char* name : {"TOLVAR_E2E_DIR", "TOLVAR_E2E_SESSION", "TOLVAR_START_URL", "TOLVAR_UPDATE_FEED",
                                 "TOLVAR_E2E_PRETEND_VERSION", "TOLVAR_E2E_UPLOAD"}) {
            env[name] = std::nullopt;
        }
    }
};

TEST_F(ShellTest, AutomationLaunchPlantsSessionReportsLoadAndSnapshotsThePage) {
    LoopbackHttpServer server([](const HttpRequest&) { return page("Shell page", "#33cc66"); });
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_START_URL"] = server.url("/app");
    env["TOLVAR_E2E_SESSION"] = "session-token-1";
    env["TOLVAR_E2E_PRETEND_VERSION"] = "9.8.7";
    AppProcess app(TOLVAR_EXECUTABLE, env);
    Journal journal(automation);

    auto loaded = journal.waitFor("web-loaded", eventTimeout);
    ASSERT_TRUE(loaded) << "no web-loaded event";
    EXPECT_EQ((*loaded)["url"], server.url("/app"));

    // The very first request already carries the planted session cookie.
    const auto requests = server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().target, "/app");
    EXPECT_EQ(requests.front().cookie("tolvar_session"), "session-token-1");
    EXPECT_TRUE(requests.front().header("user-agent").ends_with(" TolvarDesktop/9.8.7 (Linux)"))
        << requests.front().header("user-agent");

    auto snapshot = journal.waitFor("main-snapshot", eventTimeout);
    ASSERT_TRUE(snapshot) << "no main-snapshot event";
    EXPECT_EQ((*snapshot)["ok"], true);
    EXPECT_EQ((*snapshot)["file"], "main-window.png");
    EXPECT_EQ((*snapshot)["url"], server.url("/app"));
    EXPECT_GT((*snapshot)["seq"].get<int>(), (*loaded)["seq"].get<int>());
    EXPECT_GT(fs::file_size(automation / "main-window.png"), 0u);

    EXPECT_EQ(app.terminate(), 0) << "SIGTERM should end the application cleanly";
}

TEST_F(ShellTest, AStoredSessionIsNotUsedInAutomationMode) {
    LoopbackHttpServer server([](const HttpRequest& request) {
        auto answer = page("Session", "#ffffff");
        if (request.target == "/signin") {
            answer.headers.push_back({"Set-Cookie", "tolvar_session=kept-session; Max-Age=86400; Path=/; HttpOnly"});
        }
        return answer;
    });
    auto arrived = [&](const std::string& target) {
        return server.waitForRequest([&](const HttpRequest& r) { return r.target == target; }, eventTimeout);
    };
    {
        env["TOLVAR_START_URL"] = server.url("/signin");
        AppProcess app(TOLVAR_EXECUTABLE, env);
        ASSERT_TRUE(arrived("/signin"));
        // Give the web engine's network process a moment to store the cookie it was just sent.
        std::this_thread::sleep_for(1500ms);
        EXPECT_EQ(app.terminate(), 0);
    }
    {
        env["TOLVAR_E2E_DIR"] = automation.string();
        env["TOLVAR_START_URL"] = server.url("/ephemeral");
        AppProcess app(TOLVAR_EXECUTABLE, env);
        ASSERT_TRUE(arrived("/ephemeral"));
    }
    // The session a normal run stored is not sent in automation mode.
    for (const auto& request : server.requests()) {
        if (request.target == "/ephemeral") {
            EXPECT_EQ(request.cookie("tolvar_session"), "");
        }
    }
}

// A missing automation folder loses events silently and is never created.
TEST_F(ShellTest, AMissingAutomationFolderLeavesTheApplicationRunning) {
    LoopbackHttpServer server([](const HttpRequest&) { return page("Lost events", "#ffffff"); });
    const fs::path missing = home.path() / "no-such-folder";
    env["TOLVAR_E2E_DIR"] = missing.string();
    env["TOLVAR_START_URL"] = server.url("/app");
    AppProcess app(TOLVAR_EXECUTABLE, env);
    ASSERT_TRUE(server.waitForRequest([](const HttpRequest& r) { return r.target == "/app"; }, eventTimeout));
    std::this_thread::sleep_for(4s);  // past the page snapshot's delay
    EXPECT_TRUE(app.running());
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_EQ(app.terminate(), 0);
}

TEST_F(ShellTest, HiddenWindowComesBackWhenLaunchedAgain) {
    LoopbackHttpServer server([](const HttpRequest&) { return page("Reopen", "#ffffff"); });
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_START_URL"] = server.url("/app");
    AppProcess app(TOLVAR_EXECUTABLE, env);
    ASSERT_TRUE(Journal(automation).waitFor("web-loaded", eventTimeout));
    const std::string window = waitForVisibleMainWindow(true);
    ASSERT_FALSE(window.empty());

    // Ctrl+H is the "Hide Tolvar" item: the window goes away, the application stays.
    commandOutput("xdotool windowfocus --sync " + window + " key ctrl+h");
    ASSERT_TRUE(waitForVisibleMainWindow(false).empty());
    EXPECT_TRUE(app.running());

    // A second launch hands over to the running instance and ends; the same window returns.
    AppProcess second(TOLVAR_EXECUTABLE, env);
    const auto deadline = std::chrono::steady_clock::now() + eventTimeout;
    while (second.running() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(second.terminate(), 0);
    EXPECT_EQ(waitForVisibleMainWindow(true), window);
    EXPECT_TRUE(app.running());
}

// The main window's frame as the X server has it: "x y width height".
std::string frameOf(const std::string& window) {
    const auto shell = commandOutput("xdotool getwindowgeometry --shell " + window);
    std::map<std::string, std::string> values;
    std::istringstream lines(shell);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values["X"] + " " + values["Y"] + " " + values["WIDTH"] + " " + values["HEIGHT"];
}

TEST_F(ShellTest, MainWindowComesBackWhereAndAsLargeAsItWasLeft) {
    LoopbackHttpServer server([](const HttpRequest&) { return page("Frame", "#ffffff"); });
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_START_URL"] = server.url("/app");
    const fs::path settings = home.path() / "config" / "tolvar" / "defaults.ini";
    {
        AppProcess app(TOLVAR_EXECUTABLE, env);
        ASSERT_TRUE(Journal(automation).waitFor("web-loaded", eventTimeout));
        const std::string window = waitForVisibleMainWindow(true);
        ASSERT_FALSE(window.empty());
        commandOutput("xdotool windowsize --sync " + window + " 900 600 windowmove --sync " + window + " 40 30");
        const auto deadline = std::chrono::steady_clock::now() + eventTimeout;
        while (testsupport::readFile(settings).find("40 30 900 600") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_NE(testsupport::readFile(settings).find("tolvar.mainWindowFrame=40 30 900 600"), std::string::npos)
            << testsupport::readFile(settings);
        EXPECT_EQ(app.terminate(), 0);
    }
    {
        AppProcess app(TOLVAR_EXECUTABLE, env);
        const std::string window = waitForVisibleMainWindow(true);
        ASSERT_FALSE(window.empty());
        EXPECT_EQ(frameOf(window), "40 30 900 600");
    }
}

}  // namespace
