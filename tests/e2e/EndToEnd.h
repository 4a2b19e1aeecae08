#pragma once

#include <memory>

#include "tests/integration/LaunchTest.h"
#include "tests/support/DevService.h"

namespace e2e {

using namespace launchtest;
constexpr const char* session = "e2e-session-token";

// The stand-in service with its demo user signed in under `session`, and the application driven
// through its automation folder.
class EndToEndTest : public LaunchTest {
protected:
    std::unique_ptr<testsupport::ServiceProcess> service;
    std::unique_ptr<AppProcess> app;
    int launches = 0;

    void SetUp() override {
        LaunchTest::SetUp();
        service = std::make_unique<testsupport::ServiceProcess>(std::vector<std::string>{
            "--port", "0", "--data", (home.path() / "service").string(), "--demo-session", session, "--pages",
            TOLVAR_E2E_PAGES});
    }
    void TearDown() override {
        LaunchTest::TearDown();
        app.reset();
        service.reset();
    }

    // Starts the application on the service's /app page; `signedIn` plants the session cookie.
    // `extra` adds to or overrides the application's environment.
    void launch(bool signedIn = true, const std::map<std::string, std::optional<std::string>>& extra = {}) {
        automate(service->base() + "/app", signedIn ? std::optional<std::string>(session) : std::nullopt);
        auto all = env;
        for (const auto& [name, value] : extra) all[name] = value;
        app = std::make_unique<AppProcess>(TOLVAR_EXECUTABLE, all);
        expect("web-loaded");
    }
    // Quits the application and starts it again, journaling into a fresh automation folder.
    void relaunchWithFreshJournal() {
        app.reset();
        automation = home.path() / ("automation-" + std::to_string(++launches));
        fs::create_directories(automation);
        journal = Journal(automation);
        lastSeq = 0;
        launch();
    }
    void setClipboard(const std::string& text) { ASSERT_TRUE(testsupport::setClipboard(text)); }
    // The demo user's bookmarks page as the service renders it.
    std::string bookmarksPage() {
        return testsupport::httpRequest(service->port(), "GET", "/app",
                                        {{"Cookie", std::string("tolvar_session=") + session}})
            .body;
    }
};

}  // namespace e2e
