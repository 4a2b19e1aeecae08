// A test user's home with an automation folder, the built application started in it, and the
// driver's side of the automation folder.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
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

inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = eventTimeout) {
    return testsupport::waitUntil(done, timeout);
}

// The name (the kernel's 15 characters) and parent of a live process, from "pid (comm) state ppid ...".
struct ProcessInfo {
    std::string name;
    pid_t parent = 0;
};
inline std::optional<ProcessInfo> processInfo(pid_t pid) {
    const std::string line = testsupport::readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return std::nullopt;
    ProcessInfo info{.name = line.substr(open + 1, close - open - 1)};
    char state = 0;
    std::istringstream(line.substr(close + 1)) >> state >> info.parent;
    if (state == 'Z') return std::nullopt;
    return info;
}

// The live descendants of `root` that run a process of this name.
inline std::vector<pid_t> descendantsNamed(pid_t root, const std::string& name) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string number = entry.path().filename();
        if (number.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::stoi(number);
        if (const auto info = processInfo(pid); !info || info->name != name) continue;
        for (auto up = processInfo(pid); up && up->parent > 1; up = processInfo(up->parent)) {
            if (up->parent == root) {
                found.push_back(pid);
                break;
            }
        }
    }
    return found;
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
