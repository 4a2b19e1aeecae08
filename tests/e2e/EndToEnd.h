#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/DevService.h"
#include "tests/support/AppProcess.h"

namespace e2e {

using namespace std::chrono_literals;
using nlohmann::json;
constexpr auto eventTimeout = 30s;
constexpr const char* session = "e2e-session-token";

// The stand-in service with its demo user signed in under `session`, and the application driven
// through its automation folder.
class EndToEndTest : public ::testing::Test {
protected:
    testsupport::TemporaryFolder home;
    std::filesystem::path automation = home.path() / "automation";
    std::unique_ptr<testsupport::ServiceProcess> service;
    std::unique_ptr<testsupport::AppProcess> app;
    testsupport::Journal journal{automation};
    int64_t lastSeq = 0;
    int launches = 0;
    // Added to the application's environment at launch (a value of nothing removes a variable).
    std::map<std::string, std::optional<std::string>> extraEnvironment;

    void SetUp() override;
    void TearDown() override;

    // Starts the application on the service's /app page; `signedIn` plants the session cookie.
    // `env` adds to or overrides the application's environment.
    void launch(bool signedIn = true, const std::map<std::string, std::optional<std::string>>& env = {});
    // Quits the application and starts it again, journaling into a fresh automation folder.
    void relaunchWithFreshJournal();
    // Appends command lines to "cmd", as a driver does.
    void send(const std::string& lines);
    // The next event of that name after the last one awaited; fails the test when none comes.
    json expect(const std::string& name, const std::function<bool(const json&)>& matches = {});
    // Puts text on the X clipboard.
    void setClipboard(const std::string& text);
    // The demo user's bookmarks page as the service renders it.
    std::string bookmarksPage();
};

}  // namespace e2e
