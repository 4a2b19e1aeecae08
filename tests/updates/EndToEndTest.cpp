// The application updates itself end to end: the running build 1.0, installed in a folder of its own,
// finds 2.0 of the same team on the stand-in service, installs it in place and starts again as 2.0.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

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
const fs::path devservice = TOLVAR_DEVSERVICE;

// The stand-in service, started on a free loopback port; its address is its first line of output.
class StandInService {
public:
    StandInService(const fs::path& data, const fs::path& releases) {
        const std::string command = "exec '" + devservice.string() + "' --port 0 --data '" + data.string() +
                                    "' --releases '" + releases.string() + "' 2>/dev/null & echo $!";
        pipe_ = popen(("sh -c \"" + command + "\"").c_str(), "r");
        char line[256] = {};
        if (pipe_ && fgets(line, sizeof line, pipe_)) pid_ = std::atoi(line);
        if (pipe_ && fgets(line, sizeof line, pipe_)) {
            base_ = line;
            while (!base_.empty() && (base_.back() == '\n' || base_.back() == '\r')) base_.pop_back();
        }
    }
    ~StandInService() {
        if (pid_ > 0) kill(pid_, SIGTERM);
        if (pipe_) pclose(pipe_);
    }
    const std::string& base() const { return base_; }

private:
    FILE* pipe_ = nullptr;
    int pid_ = 0;
    std::string base_;
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

    StandInService service(home.path() / "service", releases);
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
    for (const auto& entry : fs::directory_iterator(apps)) EXPECT_EQ(entry.path().filename(), "Tolvar.app");
    for (const auto& entry : fs::directory_iterator(home.path() / "tmp")) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("tolvar-update-")) << entry.path();
    }
    app.terminate();
}

}  // namespace
