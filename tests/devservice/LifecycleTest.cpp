#include "ServiceFixture.h"

#include "devservice/Store.h"

namespace {

class DevserviceLifecycle : public DevserviceProcess {};

TEST_F(DevserviceLifecycle, PrintsItsLoopbackAddressAndStopsCleanlyOnSigterm) {
    start();
    EXPECT_EQ(service_->base().rfind("http://127.0.0.1:", 0), 0u);
    EXPECT_GT(port(), 0);
    const auto reply = get("/");
    EXPECT_EQ(reply.status, 303);
    EXPECT_EQ(reply.header("Location"), "/app");
    EXPECT_TRUE(std::filesystem::exists(dataDir() / "tolvar.sqlite3"));
    EXPECT_EQ(service_->stop(SIGTERM), 0);
    EXPECT_EQ(devtest::connectLoopback(port()), -1) << "nothing listens after the stop";
    service_.reset();
}

TEST_F(DevserviceLifecycle, StopsCleanlyOnSigint) {
    start();
    EXPECT_EQ(get("/app").status, 303);
    EXPECT_EQ(service_->stop(SIGINT), 0);
    service_.reset();
}

TEST_F(DevserviceLifecycle, RefusesBadCommandLines) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--port", "1234"},
        {"--data", dataDir().string(), "--port", "not-a-number"},
        {"--data", dataDir().string(), "--unknown"},
        {"--data", dataDir().string(), "--demo-session", "semi;colon"},
        {"--data", (folder_.path() / "file-not-folder").string()},
    };
    devtest::writeFile(folder_.path() / "file-not-folder", "x");
    for (const auto& arguments : bad) {
        const auto [status, log] = devtest::runToExit(arguments);
        EXPECT_NE(status, 0) << log;
        EXPECT_NE(log.find("tolvar-devservice:"), std::string::npos) << log;
    }
    const auto [status, log] = devtest::runToExit({"--help"});
    EXPECT_EQ(status, 0) << log;
}

TEST_F(DevserviceLifecycle, DataOutlivesARestartAndTheDemoUserIsMadeOnce) {
    start();
    ASSERT_EQ(api("bookmarks.create", createBody({{"url", "https://example.org/kept"}})).status, 200);
    stopService();

    start({"--demo-session", "second-token"});
    const auto list = bookmarks("second-token");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["url"], "https://example.org/kept");
    EXPECT_EQ(bookmarks(demoToken).size(), 1u) << "an earlier planted session still works";
    EXPECT_FALSE(signIn("demo", "tolvar-demo").empty());
    stopService();

    devservice::Store store(dataDir() / "tolvar.sqlite3");
    EXPECT_TRUE(store.integrityOk());
    EXPECT_EQ(store.ensureUser("demo", "x").id, 1) << "the demo user exists exactly once, as the first user";
}

TEST_F(DevserviceLifecycle, AReleasesFolderMayAppearAfterTheStart) {
    const auto releases = folder_.path() / "later";
    start({"--releases", releases.string()});
    EXPECT_EQ(get("/downloads/version.json").status, 404);
    std::filesystem::create_directories(releases);
    devtest::writeFile(releases / "version.json", "{\"version\":\"2.0\"}");
    EXPECT_EQ(get("/downloads/version.json").body, "{\"version\":\"2.0\"}");
    EXPECT_NE(service_->log().find("is not a folder (yet)"), std::string::npos);
}

TEST_F(DevserviceLifecycle, TwoServicesRunSideBySideOnTheirOwnPorts) {
    start();
    devtest::TempDir other;
    devtest::ServiceProcess second({"--data", (other.path() / "data").string(), "--demo-session", "other"});
    EXPECT_NE(second.port(), port());
    EXPECT_EQ(devtest::httpRequest(second.port(), "GET", "/").status, 303);
    EXPECT_EQ(get("/").status, 303);
    EXPECT_EQ(second.stop(SIGTERM), 0);
}

}  // namespace
