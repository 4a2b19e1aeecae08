// Quick save from a real Chromium with a profile of its own, showing a loopback page in the active
// window: the built application's "presented" event must carry that page, through the extension and
// its native-messaging host, through the remote-debugging endpoint, and with neither from the clipboard.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "capture/CaptureRules.h"
#include "tests/support/AppProcess.h"
#include "tests/capture/TestDisplay.h"
#include "tests/support/LoopbackHttpServer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

constexpr const char* pageTitle = "Known Title — Capture Test ✓";

class BrowserCaptureTest : public ::testing::Test {
protected:
    testsupport::TemporaryFolder home;
    fs::path automation = home.path() / "automation";
    std::map<std::string, std::optional<std::string>> env = testsupport::userEnvironment(home.path());
    testsupport::LoopbackHttpServer pages{[](const testsupport::HttpRequest& request) {
        testsupport::HttpResponse response;
        if (request.target == "/article") {
            response.body = std::string("<!doctype html><html><head><meta charset=\"utf-8\"><title>") + pageTitle +
                            "</title></head><body><p>An article worth keeping.</p></body></html>";
        } else if (request.target == "/app") {
            response.body = "<!doctype html><title>Tolvar</title><p>Not signed in.</p>";
        } else {
            response.status = 404;
        }
        return response;
    }};
    std::string article = pages.url("/article");
    std::unique_ptr<testsupport::AppProcess> app;
    std::unique_ptr<testsupport::AppProcess> browser;
    testsupport::Journal journal{automation};

    void SetUp() override {
        fs::create_directories(automation);
        env["TOLVAR_E2E_DIR"] = automation.string();
        env["TOLVAR_START_URL"] = pages.url("/app");
        env["TOLVAR_E2E_SESSION"] = std::nullopt;
        env["TOLVAR_UPDATE_FEED"] = std::nullopt;
        app = std::make_unique<testsupport::AppProcess>(TOLVAR_EXECUTABLE, env);
        ASSERT_TRUE(journal.waitFor("web-loaded", 30s)) << "the application did not start";
    }

    void TearDown() override {
        if (HasFailure()) std::cerr << "journal:\n" << testsupport::readFile(automation / "events.jsonl") << "\n";
        browser.reset();
        app.reset();
    }

    fs::path profile() const { return fs::path(*env.at("XDG_CONFIG_HOME")) / "chromium"; }

    void startChromium(const std::vector<std::string>& extra) {
        std::vector<std::string> arguments{
            "--no-sandbox", "--disable-gpu", "--no-first-run", "--no-default-browser-check",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            // Not --disable-default-apps: it turns off the external-extension folders as well.
            "--password-store=basic",
            // Every name resolves to nothing but the loopback address, so no request leaves the machine.
            "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1", "--user-data-dir=" + profile().string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(article);
        browser = std::make_unique<testsupport::AppProcess>("/usr/bin/chromium", env, arguments, home.path() / "chromium.log");
    }

    // Waits for the browser window showing the article and makes it the active window.
    void bringBrowserToFront() {
        std::string window;
        testsupport::waitUntil([&] {
            window = testsupport::commandOutput(
                "xdotool search --onlyvisible --name 'Known Title.* - Chromium$' 2>/dev/null | head -n 1");
            return !window.empty();
        }, 30s);
        ASSERT_FALSE(window.empty()) << "no Chromium window with the article";
        ASSERT_TRUE(activateWindow(std::stoul(window)));
    }

    void present() { std::ofstream(automation / "cmd", std::ios::app) << "present\n"; }

    // Sends a command, then answers the next "preferences" event's entry for `browser` (null when
    // the section does not list it) and the event itself.
    std::pair<json, json> browsersSection(const std::string& command, const std::string& browser) {
        const auto last = journal.events();
        const int64_t after = last.empty() ? 0 : last.back().value("seq", int64_t{0});
        std::ofstream(automation / "cmd", std::ios::app) << command << "\n";
        const auto event = journal.waitFor("preferences", 30s, {}, after);
        if (!event) {
            ADD_FAILURE() << "no \"preferences\" event after " << command;
            return {json(), json::object()};
        }
        for (const auto& entry : (*event)["browsers"]) {
            if (entry["browser"] == browser) return {entry, *event};
        }
        return {json(), *event};
    }

    json presented() {
        auto event = journal.waitFor("presented", 30s);
        if (!event) {
            ADD_FAILURE() << "no \"presented\" event";
            return json::object();
        }
        return *event;
    }

    // The panel opened with the test page, as Chromium reported it, and no capture error.
    void expectThePageFromTheBrowser(const json& event) const {
        EXPECT_EQ(event["frontApp"], "org.chromium.Chromium");
        EXPECT_EQ(event["source"], "browser");
        EXPECT_EQ(event["url"], article);
        EXPECT_EQ(event["title"], pageTitle);
        EXPECT_EQ(event["browserError"], 0);
    }

};

TEST_F(BrowserCaptureTest, AfterAPerUserInstallChromiumInstallsTheExtensionWhichReportsTheFrontTab) {
    // Preferences lists Chromium (it is installed here) with no extension yet.
    EXPECT_EQ(browsersSection("preferences", "chromium").first.value("state", ""), "missing");

    // The per-user install copies the bundle and tells the browsers about its extension and host.
    {
        testsupport::AppProcess install(TOLVAR_EXECUTABLE, env, {"--install"}, home.path() / "install.log");
        testsupport::waitUntil([&] { return !install.running(); }, 60s);
        ASSERT_EQ(install.terminate(), 0) << testsupport::readFile(home.path() / "install.log");
    }
    const fs::path installed = fs::path(*env.at("XDG_DATA_HOME")) / "tolvar" / "Tolvar.app";
    const fs::path manifest = profile() / "NativeMessagingHosts" / "app.tolvar.desktop.capture.json";
    ASSERT_TRUE(fs::exists(manifest));
    EXPECT_EQ(json::parse(testsupport::readFile(manifest))["path"], (installed / "libexec" / "tolvar-capture-host").string());

    const auto installedState = browsersSection("preferences", "chromium").first;
    EXPECT_EQ(installedState.value("state", ""), "installed") << installedState;

    // Started as a user starts it: no extension on the command line, no developer mode.
    startChromium({});
    bringBrowserToFront();

    // The extension's report of the article reaches the user's runtime folder.
    const fs::path state = fs::path(*env.at("XDG_RUNTIME_DIR")) / "tolvar-capture" / "chromium.json";
    ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::readFile(state).find(article) != std::string::npos; }, 30s))
        << "no report from the extension";
    // No remote debugging in this run: the page can only have come from the extension.
    EXPECT_FALSE(fs::exists(profile() / "DevToolsActivePort"));
    const auto connected = browsersSection("preferences", "chromium").first;
    EXPECT_EQ(connected.value("state", ""), "connected") << connected;
    EXPECT_GT(connected.value("lastReport", 0.0), 0.0);
    EXPECT_EQ(connected.value("setUp", true), false);

    // Preferences took the focus; the browser gets it back and reports the article again.
    bringBrowserToFront();
    ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::readFile(state).find(article) != std::string::npos; }, 30s));
    present();
    expectThePageFromTheBrowser(presented());
}

TEST_F(BrowserCaptureTest, TheDebuggingEndpointNamesTheFocusedPage) {
    startChromium({"--remote-debugging-port=0"});
    bringBrowserToFront();
    ASSERT_TRUE(testsupport::waitUntil([&] { return fs::exists(profile() / "DevToolsActivePort"); }, 30s));
    // No extension and no host manifest in this run: the page can only come from the endpoint.
    EXPECT_FALSE(fs::exists(fs::path(*env.at("XDG_RUNTIME_DIR")) / "tolvar-capture"));

    present();
    expectThePageFromTheBrowser(presented());
}

TEST_F(BrowserCaptureTest, WithNeitherTheClipboardIsUsedAndTheErrorRecorded) {
    startChromium({});
    bringBrowserToFront();
    ASSERT_TRUE(testsupport::setClipboard("https://example.org/from-the-clipboard"));

    present();
    const auto event = presented();
    EXPECT_EQ(event["frontApp"], "org.chromium.Chromium");
    EXPECT_EQ(event["source"], "clipboard");
    EXPECT_EQ(event["url"], "https://example.org/from-the-clipboard");
    EXPECT_EQ(event["browserError"], 2);  // no extension report and no debugging endpoint
    // One line says why, and its link opens Preferences at the browsers.
    EXPECT_EQ(event["status"], "No page from Chromium: its Tolvar extension has not reported.");
    EXPECT_EQ(event["statusLink"], "Browser settings…");

    // Preferences' "Set Up" installs the per-user route for the running bundle.
    const auto missing = browsersSection("follow-status-link", "chromium").first;
    EXPECT_EQ(missing.value("state", ""), "missing") << missing;
    EXPECT_EQ(missing.value("setUp", false), true);
    const auto [setUp, section] = browsersSection("set-up-browser chromium", "chromium");
    EXPECT_EQ(setUp.value("state", ""), "installed") << setUp;
    EXPECT_EQ(section.value("browsersMessage", ""), "Set up: restart Chromium to finish.");
    EXPECT_TRUE(fs::exists(profile() / "External Extensions" / (std::string(capture::chromiumExtensionId) + ".json")));
}

}  // namespace
