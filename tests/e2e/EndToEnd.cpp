#include "EndToEnd.h"

#include <cstdio>

namespace e2e {

void EndToEndTest::SetUp() {
    std::filesystem::create_directories(automation);
    service = std::make_unique<testsupport::ServiceProcess>(std::vector<std::string>{
        "--port", "0", "--data", (home.path() / "service").string(), "--demo-session", session, "--pages",
        TOLVAR_E2E_PAGES});
}

void EndToEndTest::TearDown() {
    if (HasFailure()) {
        std::cerr << "journal:\n" << testsupport::readFile(automation / "events.jsonl") << "\n";
    }
    app.reset();
    service.reset();
}

void EndToEndTest::launch(bool signedIn, const std::map<std::string, std::optional<std::string>>& extra) {
    auto env = testsupport::userEnvironment(home.path());
    env["TOLVAR_E2E_DIR"] = automation.string();
    env["TOLVAR_START_URL"] = service->base() + "/app";
    env["TOLVAR_E2E_SESSION"] = signedIn ? std::optional<std::string>(session) : std::nullopt;
    env["TOLVAR_UPDATE_FEED"] = std::nullopt;
    for (const auto& [name, value] : extra) env[name] = value;
    for (const auto& [name, value] : extraEnvironment) env[name] = value;
    app = std::make_unique<testsupport::AppProcess>(TOLVAR_EXECUTABLE, env);
    expect("web-loaded");
}

void EndToEndTest::relaunchWithFreshJournal() {
    app.reset();
    automation = home.path() / ("automation-" + std::to_string(++launches));
    std::filesystem::create_directories(automation);
    journal = testsupport::Journal(automation);
    lastSeq = 0;
    launch();
}

void EndToEndTest::send(const std::string& lines) {
    std::ofstream(automation / "cmd", std::ios::app | std::ios::binary) << lines;
}

json EndToEndTest::expect(const std::string& name, const std::function<bool(const json&)>& matches) {
    auto event = journal.waitFor(name, eventTimeout, matches, lastSeq);
    if (!event) {
        ADD_FAILURE() << "no \"" << name << "\" event after seq " << lastSeq;
        return json::object();
    }
    lastSeq = (*event)["seq"].get<int64_t>();
    return *event;
}

void EndToEndTest::setClipboard(const std::string& text) { ASSERT_TRUE(testsupport::setClipboard(text)); }

std::string EndToEndTest::bookmarksPage() {
    return testsupport::httpRequest(service->port(), "GET", "/app",
                                {{"Cookie", std::string("tolvar_session=") + session}})
        .body;
}

}  // namespace e2e
