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

    void SetUp() override;
    void TearDown() override;

    // Starts the application on the service's /app page; `signedIn` plants the session cookie.
    // `extra` adds to or overrides the application's environment.
    void launch(bool signedIn = true, const std::map<std::string, std::optional<std::string>>& extra = {});
    // Quits the application and starts it again, journaling into a fresh automation folder.
    void relaunchWithFreshJournal();
    void setClipboard(const std::string& text) { ASSERT_TRUE(testsupport::setClipboard(text)); }
    // The demo user's bookmarks page as the service renders it.
    std::string bookmarksPage();
};

}  // namespace e2e
