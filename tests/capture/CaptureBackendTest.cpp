// The capture backend without a real browser: stored reports, announced endpoints that are gone,
// hang or answer something else, and the time every path takes.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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
class SilentListener {
public:
    SilentListener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(fd_, 8), 0);
        socklen_t size = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A loopback port with nothing behind it.
int closedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

class CaptureBackendTest : public ::testing::Test {
protected:
    testsupport::TemporaryFolder home;
    fs::path runtime = home.path() / "runtime";
    fs::path config = home.path() / "config";
    std::map<std::string, std::optional<std::string>> saved;

    void SetUp() override {
        for (const auto& [name, value] : testsupport::userEnvironment(home.path())) {
            const char* old = std::getenv(name.c_str());
            saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
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

    // The capture's answer and how long it took.
    std::pair<std::variant<capture::Page, CaptureError>, std::chrono::milliseconds> timedCapture(
        const std::string& text, const std::vector<fs::path>& folders = {}) {
        const auto start = std::chrono::steady_clock::now();
        auto answer = capture::capturePage(text, folders);
        return {answer, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)};
    }

    static std::optional<CaptureError> error(const std::variant<capture::Page, CaptureError>& answer) {
        if (const auto* failure = std::get_if<CaptureError>(&answer)) return *failure;
        return std::nullopt;
    }
};

TEST_F(CaptureBackendTest, ARequestForABrowserLinuxDoesNotRunIsUnsupported) {
    EXPECT_EQ(error(capture::capturePage(request("com.apple.Safari"), {})), CaptureError::unsupportedRequest);
    EXPECT_EQ(error(capture::capturePage(request("company.thebrowser.Browser"), {})), CaptureError::unsupportedRequest);
    EXPECT_EQ(error(capture::capturePage("return the front page", {})), CaptureError::unsupportedRequest);
}

TEST_F(CaptureBackendTest, TheNamedBrowsersReportGivesThePage) {
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
    EXPECT_EQ(error(capture::capturePage(request("com.google.Chrome"), {})), CaptureError::noSource);
}

TEST_F(CaptureBackendTest, AReportAfterTheFocusLeftOrOfAnEndedBrowserIsNotOffered) {
    store("chromium", "", "", getpid());
    EXPECT_EQ(error(capture::capturePage(request("org.chromium.Chromium"), {})), CaptureError::noSource);
    store("chromium", "https://example.org/old", "Old", endedProcess());
    EXPECT_EQ(error(capture::capturePage(request("org.chromium.Chromium"), {})), CaptureError::noSource);
    store("firefox", "", "", getpid());
    EXPECT_EQ(error(capture::capturePage(request("org.mozilla.firefox"), {})), CaptureError::noSource);
}

TEST_F(CaptureBackendTest, AStateFileOpenToOthersIsNotBelieved) {
    store("chromium", "https://example.org/a", "A", getpid());
    fs::permissions(runtime / "tolvar-capture" / "chromium.json", fs::perms::owner_read | fs::perms::owner_write |
                                                                      fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::replace);
    EXPECT_EQ(error(capture::capturePage(request("org.chromium.Chromium"), {})), CaptureError::noSource);
}

TEST_F(CaptureBackendTest, AnEndpointThatIsGoneIsRefused) {
    announce(config / "chromium", closedPort());
    const auto [answer, took] = timedCapture(request("org.chromium.Chromium"));
    EXPECT_EQ(error(answer), CaptureError::endpointUnreachable);
    EXPECT_LT(took, 900ms);
}

TEST_F(CaptureBackendTest, AnEndpointThatNeverAnswersTimesOutWithinTheBudget) {
    SilentListener silent;
    announce(config / "google-chrome", silent.port());
    const auto [answer, took] = timedCapture(request("com.google.Chrome"));
    EXPECT_EQ(error(answer), CaptureError::endpointUnreachable);
    EXPECT_GE(took, 200ms);  // it did wait for an answer
    EXPECT_LT(took, 900ms);
}

TEST_F(CaptureBackendTest, AnEndpointWithoutPagesHasNoFocusedPage) {
    testsupport::LoopbackHttpServer endpoint([](const testsupport::HttpRequest& request) {
        testsupport::HttpResponse response;
        response.contentType = "application/json; charset=UTF-8";
        response.body = request.target == "/json/list"
                            ? R"([{"id":"AB12","type":"service_worker","url":"chrome-extension://x/","title":"w"}])"
                            : "";
        return response;
    });
    announce(config / "BraveSoftware/Brave-Browser", endpoint.port());
    EXPECT_EQ(error(capture::capturePage(request("com.brave.Browser"), {})), CaptureError::noFocusedPage);
    EXPECT_TRUE(endpoint.waitForRequest([](const auto& r) { return r.target == "/json/list"; }, 1s));
}

TEST_F(CaptureBackendTest, AnEndpointThatAnswersSomethingElseIsUnreachable) {
    testsupport::LoopbackHttpServer endpoint([](const testsupport::HttpRequest& request) {
        testsupport::HttpResponse response;
        if (request.target == "/json/list") {
            response.body = R"([{"id":"AB12","type":"page","url":"https://example.org/","title":"t"}])";
        } else {
            response.status = 404;  // no WebSocket behind the page
        }
        return response;
    });
    announce(config / "microsoft-edge", endpoint.port());
    EXPECT_EQ(error(capture::capturePage(request("com.microsoft.edgemac"), {})), CaptureError::endpointUnreachable);
    EXPECT_TRUE(endpoint.waitForRequest([](const auto& r) { return r.target == "/devtools/page/AB12"; }, 1s));

    testsupport::LoopbackHttpServer notJson([](const testsupport::HttpRequest&) {
        testsupport::HttpResponse response;
        response.body = "<html>not the endpoint</html>";
        return response;
    });
    announce(config / "vivaldi", notJson.port());
    EXPECT_EQ(error(capture::capturePage(request("com.vivaldi.Vivaldi"), {})), CaptureError::endpointUnreachable);

    // A redirect is not followed, not even on the endpoint itself.
    testsupport::LoopbackHttpServer redirecting([](const testsupport::HttpRequest& request) {
        testsupport::HttpResponse response;
        if (request.target == "/json/list") {
            response.status = 302;
            response.headers = {{"Location", "/json/elsewhere"}};
        } else {
            response.body = R"([{"id":"AB12","type":"page","url":"https://example.org/","title":"t"}])";
        }
        return response;
    });
    announce(config / "chromium", redirecting.port());
    EXPECT_EQ(error(capture::capturePage(request("org.chromium.Chromium"), {})), CaptureError::endpointUnreachable);
    for (const auto& asked : redirecting.requests()) EXPECT_NE(asked.target, "/json/elsewhere");
}

TEST_F(CaptureBackendTest, TheRunningBrowsersOwnProfileFolderIsLookedAtFirst) {
    testsupport::LoopbackHttpServer endpoint([](const testsupport::HttpRequest&) {
        testsupport::HttpResponse response;
        response.body = "[]";
        return response;
    });
    const fs::path ownProfile = home.path() / "elsewhere" / "profile";
    announce(ownProfile, endpoint.port());
    EXPECT_EQ(error(capture::capturePage(request("org.chromium.Chromium"), {ownProfile})), CaptureError::noFocusedPage);
    EXPECT_EQ(error(capture::capturePage(request("org.chromium.Chromium"), {})), CaptureError::noSource);
}

TEST_F(CaptureBackendTest, FirefoxHasNoEndpointToAsk) {
    EXPECT_EQ(error(capture::capturePage(request("org.mozilla.firefox"), {})), CaptureError::noSource);
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
    for (int i = 0; i < 100 && folders.empty(); ++i) {
        std::this_thread::sleep_for(10ms);
        folders = capture::profileFoldersOfProcess(child);
    }
    kill(-child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(folders, std::vector<fs::path>{"/tmp/some-profile"});  // relative folders are left out
    EXPECT_TRUE(capture::profileFoldersOfProcess(endedProcess()).empty());
    EXPECT_TRUE(capture::profileFoldersOfProcess(0).empty());
}

}  // namespace
