// A test user's home with an automation folder, the built application started in it, and the
// driver's side of the automation folder.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "tests/support/AppProcess.h"
#include "tests/support/LoopbackHttpServer.h"

namespace launchtest {

using namespace std::chrono_literals;
using testsupport::AppProcess;
using testsupport::commandOutput;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::Journal;
using testsupport::LoopbackHttpServer;
using testsupport::TemporaryFolder;
namespace fs = std::filesystem;
using nlohmann::json;

constexpr auto eventTimeout = 30s;

inline HttpResponse titledPage(const std::string& title, const std::string& body = "") {
    return {.body = "<!doctype html><html><head><title>" + title + "</title></head><body style=\"margin:0\"><h1>" +
                    title + "</h1>" + body + "</body></html>"};
}

// Waits until `done` answers true; false when `timeout` passed first.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = eventTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// The visible main window's id once it is (or, with `visible` false, is no longer) shown; "" when none.
inline std::string waitForMainWindow(bool visible = true) {
    std::string id;
    waitUntil([&] {
        id = commandOutput("xdotool search --onlyvisible --name '^Tolvar$' 2>/dev/null | head -n 1");
        while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
        return id.empty() != visible;
    });
    return id;
}

class LaunchTest : public ::testing::Test {
protected:
    TemporaryFolder home;
    std::map<std::string, std::optional<std::string>> env = testsupport::userEnvironment(home.path());
    fs::path automation = home.path() / "automation";
    Journal journal{automation};
    int64_t lastSeq = 0;

    void SetUp() override {
        fs::create_directories(automation);
        // Nothing inherited from the person running the tests may steer the application.
        for (const char* name : {"TOLVAR_E2E_DIR", "TOLVAR_E2E_SESSION", "TOLVAR_START_URL", "TOLVAR_UPDATE_FEED",
                                 "TOLVAR_E2E_PRETEND_VERSION", "TOLVAR_E2E_UPLOAD", "TOLVAR_DISABLE_WEB_SANDBOX",
                                 "TOLVAR_SERVICE_URL", "GTK_USE_PORTAL"}) {
            env[name] = std::nullopt;
        }
    }
    void TearDown() override {
        if (HasFailure()) std::cerr << "journal:\n" << testsupport::readFile(automation / "events.jsonl") << "\n";
    }

    void automate(const std::string& startURL, const std::optional<std::string>& session = std::nullopt) {
        env["TOLVAR_E2E_DIR"] = automation.string();
        env["TOLVAR_START_URL"] = startURL;
        env["TOLVAR_E2E_SESSION"] = session;
    }
    void send(const std::string& lines) { std::ofstream(automation / "cmd", std::ios::app) << lines; }
    // The next event of that name after the last one awaited; fails the test when none comes.
    json expect(const std::string& name, const std::function<bool(const json&)>& matches = {}) {
        auto event = journal.waitFor(name, eventTimeout, matches, lastSeq);
        if (!event) {
            ADD_FAILURE() << "no \"" << name << "\" event after seq " << lastSeq;
            return json::object();
        }
        lastSeq = (*event)["seq"].get<int64_t>();
        return *event;
    }
    std::string script(const std::string& body) {
        send("js " + body + "\n");
        return expect("js-result").value("result", "");
    }
    bool anyEvent(const std::string& name) const {
        for (const auto& event : journal.events()) {
            if (event["event"] == name) return true;
        }
        return false;
    }
};

}  // namespace launchtest
