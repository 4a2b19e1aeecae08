// The capture backend without a real browser: stored reports, and announced endpoints that are gone,
// hang or answer something else.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "capture/BrowserCapture.h"
#include "capture/ReportStore.h"
#include "quicksave/QuickSaveLogic.h"
#include "tests/support/AppProcess.h"
#include "tests/support/LoopbackHttpServer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using capture::CaptureError;

namespace {

double nowMilliseconds() {
    return static_cast<double>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

// A pid that certainly runs no process: a child that has ended and been reaped.
pid_t endedProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

// A loopback port on which something listens but never answers.
testsupport::LoopbackHttpServer silentServer() {
    return testsupport::LoopbackHttpServer(
        [](const testsupport::HttpRequest&) { return testsupport::HttpResponse{.then = testsupport::HttpResponse::Then::stall, .silent = true}; });
}

class CaptureBackendTest : public ::testing::Test {
protected:
    testsupport::TemporaryFolder home;
    fs::path runtime = home.path() / "runtime";
    fs::path config = home.path() / "config";

    // This process becomes the test user: the backend reads the XDG folders from its environment.
    void SetUp() override {
        for (const auto& [name, value] : testsupport::userEnvironment(home.path())) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }

    std::string request(const char* bundleId) { return QuickSaveLogic::tabScript(bundleId).value(); }

    void store(const std::string& browser, const std::string& address, const std::string& title, pid_t pid) {
        const capture::Report report{.browser = browser, .address = address, .title = title,
                                     .focused = nowMilliseconds() - 1000, .received = nowMilliseconds(), .pid = pid};
        ASSERT_TRUE(capture::ReportStore::forRuntimeDirectory()->write(report));
    }

    void announce(const fs::path& profile, int port) {
        fs::create_directories(profile);
        std::ofstream(profile / "DevToolsActivePort") << port << "\n/devtools/browser/0f0e0d0c\n";
    }

    static std::optional<CaptureError> error(const std::variant<capture::Page, CaptureError>& answer) {
        if (const auto* failure = std::get_if<CaptureError>(&answer)) return *failure;
        return std::nullopt;
    }
    std::optional<CaptureError> errorFor(const char* bundleId, const std::vector<fs::path>& folders = {}) {
        return error(capture::capturePage(request(bundleId), folders));
    }
};

TEST_F(CaptureBackendTest, OnlyTheNamedBrowsersOwnLiveReportGivesThePage) {
    // A request for a browser Linux does not run is unsupported; Firefox has no endpoint to fall back on.
    EXPECT_EQ(errorFor("com.apple.Safari"), CaptureError::unsupportedRequest);
    EXPECT_EQ(errorFor("org.mozilla.firefox"), CaptureError::noSource);

    store("chromium", "https://example.org/chromium", "From Chromium", getpid());
    store("firefox", "https://example.org/firefox", "From Firefox", getpid());
    const auto chromium = capture::capturePage(request("org.chromium.Chromium"), {});
    ASSERT_FALSE(error(chromium));
    EXPECT_EQ(std::get<capture::Page>(chromium).address, "https://example.org/chromium");
    EXPECT_EQ(std::get<capture::Page>(chromium).title, "From Chromium");
    const auto firefox = capture::capturePage(request("org.mozilla.firefox"), {});
    ASSERT_FALSE(error(firefox));
    EXPECT_EQ(std::get<capture::Page>(firefox).title, "From Firefox");
    // Another browser's report is never offered for this one.
    EXPECT_EQ(errorFor("com.google.Chrome"), CaptureError::noSource);

    // A state file open to others is not believed.
    fs::permissions(runtime / "tolvar-capture" / "chromium.json", fs::perms::group_read, fs::perm_options::add);
    EXPECT_EQ(errorFor("org.chromium.Chromium"), CaptureError::noSource);
    // Nor a report after the focus left the browser, or of a browser that has ended.
    store("chromium", "https://example.org/old", "Old", endedProcess());
    EXPECT_EQ(errorFor("org.chromium.Chromium"), CaptureError::noSource);
    store("firefox", "", "", getpid());
    EXPECT_EQ(errorFor("org.mozilla.firefox"), CaptureError::noSource);
}

TEST_F(CaptureBackendTest, AnEndpointThatIsGoneHangsOrAnswersSomethingElseGivesNoPage) {
    announce(config / "chromium", [] { return silentServer().port(); }());  // nothing listens there any more
    EXPECT_EQ(errorFor("org.chromium.Chromium"), CaptureError::endpointUnreachable);
    const auto silent = silentServer();
    announce(config / "google-chrome", silent.port());
    EXPECT_EQ(errorFor("com.google.Chrome"), CaptureError::endpointUnreachable);

    testsupport::LoopbackHttpServer noPages([](const testsupport::HttpRequest&) {
        return testsupport::HttpResponse{
            .body = R"([{"id":"AB12","type":"service_worker","url":"chrome-extension://x/","title":"w"}])"};
    });
    announce(config / "BraveSoftware/Brave-Browser", noPages.port());
    EXPECT_EQ(errorFor("com.brave.Browser"), CaptureError::noFocusedPage);
    EXPECT_TRUE(noPages.waitForRequest([](const auto& r) { return r.target == "/json/list"; }, 1s));

    const std::string onePage = R"([{"id":"AB12","type":"page","url":"https://example.org/","title":"t"}])";
    testsupport::LoopbackHttpServer noSocket([&](const testsupport::HttpRequest& request) {
        if (request.target == "/json/list") return testsupport::HttpResponse{.body = onePage};
        return testsupport::HttpResponse{.status = 404};  // no WebSocket behind the page
    });
    announce(config / "microsoft-edge", noSocket.port());
    EXPECT_EQ(errorFor("com.microsoft.edgemac"), CaptureError::endpointUnreachable);
    EXPECT_TRUE(noSocket.waitForRequest([](const auto& r) { return r.target == "/devtools/page/AB12"; }, 1s));

    // A redirect is not followed, not even on the endpoint itself.
    testsupport::LoopbackHttpServer redirecting([&](const testsupport::HttpRequest& request) {
        if (request.target != "/json/list") return testsupport::HttpResponse{.body = onePage};
        return testsupport::HttpResponse{.status = 302, .headers = {{"Location", "/json/elsewhere"}}};
    });
    announce(config / "chromium", redirecting.port());
    EXPECT_EQ(errorFor("org.chromium.Chromium"), CaptureError::endpointUnreachable);
    for (const auto& asked : redirecting.requests()) EXPECT_NE(asked.target, "/json/elsewhere");

    // The running browser's own profile folder is looked at first.
    const fs::path ownProfile = home.path() / "elsewhere" / "profile";
    announce(ownProfile, noPages.port());
    EXPECT_EQ(errorFor("org.chromium.Chromium", {ownProfile}), CaptureError::noFocusedPage);
}

TEST_F(CaptureBackendTest, TheCommandLineOfAProcessOfThisUserNamesItsProfile) {
    const pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", "sleep 30; true", "sh", "--user-data-dir=/tmp/some-profile", "--user-data-dir",
              "relative", nullptr);
        _exit(127);
    }
    setpgid(child, child);
    // The command line is the new program's once exec has happened.
    std::vector<fs::path> folders;
    testsupport::waitUntil([&] { return !(folders = capture::profileFoldersOfProcess(child)).empty(); }, 1s);
    kill(-child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(folders, std::vector<fs::path>{"/tmp/some-profile"});  // relative folders are left out
    EXPECT_TRUE(capture::profileFoldersOfProcess(endedProcess()).empty());
    EXPECT_TRUE(capture::profileFoldersOfProcess(0).empty());
}

}  // namespace
