#include "EndToEnd.h"

namespace e2e {

void EndToEndTest::SetUp() {
    LaunchTest::SetUp();
    service = std::make_unique<testsupport::ServiceProcess>(std::vector<std::string>{
        "--port", "0", "--data", (home.path() / "service").string(), "--demo-session", session, "--pages",
        TOLVAR_E2E_PAGES});
}

void EndToEndTest::TearDown() {
    LaunchTest::TearDown();
    app.reset();
    service.reset();
}

void EndToEndTest::launch(bool signedIn, const std::map<std::string, std::optional<std::string>>& extra) {
    automate(service->base() + "/app", signedIn ? std::optional<std::string>(session) : std::nullopt);
    auto all = env;
    for (const auto& [name, value] : extra) all[name] = value;
    app = std::make_unique<AppProcess>(TOLVAR_EXECUTABLE, all);
    expect("web-loaded");
}

void EndToEndTest::relaunchWithFreshJournal() {
    app.reset();
    automation = home.path() / ("automation-" + std::to_string(++launches));
    fs::create_directories(automation);
    journal = Journal(automation);
    lastSeq = 0;
    launch();
}

std::string EndToEndTest::bookmarksPage() {
    return testsupport::httpRequest(service->port(), "GET", "/app",
                                    {{"Cookie", std::string("tolvar_session=") + session}})
        .body;
}

}  // namespace e2e
