// The web engine's safety and recovery, each caused for real: the page's sandbox, private data
// folders, a damaged cookie store, and the engine's processes killed.
#include <signal.h>
#include <sys/stat.h>

#include <random>

#include "LaunchTest.h"

namespace launchtest {
namespace {

// The application's descendant process of that (kernel, 15-character) name, waiting for one; 0 when none came.
pid_t waitForProcess(pid_t app, const std::string& name) {
    std::vector<pid_t> found;
    waitUntil([&] { return !(found = descendantsNamed(app, name)).empty(); });
    return found.empty() ? 0 : found.front();
}

std::string namespaceOf(pid_t pid, const std::string& kind) {
    std::error_code error;
    return fs::read_symlink("/proc/" + (pid == 0 ? std::string("self") : std::to_string(pid)) + "/ns/" + kind, error);
}

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The same trial of bubblewrap as the application's: nothing when it runs here, else why not.
std::optional<std::string> bubblewrapRefusal() {
    const auto output =
        commandOutput("/usr/bin/bwrap --ro-bind / / --proc /proc --dev /dev --unshare-all true 2>&1 && echo runs");
    return output == "runs\n" ? std::nullopt : std::optional(output);
}

using WebEngineSafetyTest = LaunchTest;

TEST_F(WebEngineSafetyTest, WhereBubblewrapCannotRunAPageSaysWhyAndNothingLoads) {
    // A user namespace of its own where no further namespace may be made and no capability is
    // left: bubblewrap fails there as it does where the kernel refuses user namespaces.
    auto wrapper = [&](const std::string& name, const std::string& program) {
        const auto script = home.path() / name;
        std::ofstream(script) << "#!/bin/sh\nexec unshare -Urm sh -c 'echo 0 > /proc/sys/user/max_user_namespaces && "
                                 "exec setpriv --reuid=0 --bounding-set=-all --inh-caps=-all \"$@\"' wrap "
                              << program << " \"$@\"\n";
        fs::permissions(script, fs::perms(0755));
        return script;
    };
    const auto probe = wrapper("probe.sh", "/usr/bin/bwrap --ro-bind / / --unshare-all true");
    if (std::system((probe.string() + " 2>/dev/null").c_str()) == 0) {
        GTEST_SKIP() << "no namespace could be made here in which bubblewrap fails";
    }
    LoopbackHttpServer server([](const HttpRequest&) { return titledPage("Service"); });
    automate(server.url("/app"));
    {
        AppProcess app(wrapper("tolvar.sh", TOLVAR_EXECUTABLE), env);
        const auto refused = expect("web-sandbox-unavailable");
        EXPECT_NE(refused.value("reason", "").find("bwrap"), std::string::npos) << refused.dump();
        EXPECT_EQ(refused["runningWithout"], false);
        std::string text;
        waitUntil([&] {
            text = script("return document.body ? document.body.innerText : ''");
            return text.find("TOLVAR_DISABLE_WEB_SANDBOX") != std::string::npos;
        }, 10s);
        EXPECT_NE(text.find(refused.value("reason", "?")), std::string::npos) << text;
        EXPECT_NE(text.find("TOLVAR_DISABLE_WEB_SANDBOX=1"), std::string::npos) << text;
        // Its Reload button loads nothing either.
        send("click #reload\n");
        expect("clicked");
        send("go /elsewhere\n");
        std::this_thread::sleep_for(1s);
        EXPECT_TRUE(server.requests().empty());
    }
    // The documented way out: pages without the sandbox. A fresh automation folder, so no command runs again.
    fs::remove(automation / "cmd");
    fs::remove(automation / "events.jsonl");
    lastSeq = 0;
    env["TOLVAR_DISABLE_WEB_SANDBOX"] = "1";
    AppProcess app(wrapper("tolvar-unsandboxed.sh", TOLVAR_EXECUTABLE), env);
    EXPECT_EQ(expect("web-sandbox-unavailable")["runningWithout"], true);
    EXPECT_EQ(expect("web-loaded")["url"], server.url("/app"));
}

// One person's data over four starts: folders private for a new and an old install whatever the
// umask, a damaged cookie store set aside, and the session kept by normal runs only.
TEST_F(WebEngineSafetyTest, PersonalDataIsPrivateOutlivesADamagedStoreAndStaysOutOfAutomation) {
    LoopbackHttpServer server([](const HttpRequest& request) {
        auto answer = titledPage("Private");
        if (request.target.starts_with("/signin")) {
            answer.headers.push_back({"Set-Cookie", "tolvar_session=secret; Max-Age=86400; Path=/; HttpOnly"});
        }
        return answer;
    });
    const mode_t previous = ::umask(022);
    const auto data = home.path() / "data" / "tolvar";
    const auto cache = home.path() / "cache" / "tolvar";
    const auto config = home.path() / "config" / "tolvar";
    const std::vector<fs::path> folders{data, data / "web", cache, config};
    // Each path of `paths` open to the user alone: folders 0700, files without group or other bits.
    auto expectPrivate = [&](const std::vector<fs::path>& paths, const std::string& when) {
        for (const auto& path : paths) {
            if (fs::is_directory(path)) {
                EXPECT_EQ(modeOf(path), 0700u) << when << ": " << path;
            } else {
                EXPECT_EQ(modeOf(path) & 077, 0u) << when << ": " << path;
            }
        }
    };
    auto visit = [&](const std::string& target, const std::function<void()>& whileRunning = {}) {
        env["TOLVAR_START_URL"] = server.url(target);
        AppProcess app(TOLVAR_EXECUTABLE, env);
        ASSERT_TRUE(server.waitForRequest([&](const HttpRequest& r) { return r.target == target; }, eventTimeout));
        if (whileRunning) whileRunning();
        if (target.starts_with("/signin")) {
            EXPECT_TRUE(waitUntil([&] { return testsupport::readFile(data / "web" / "cookies.sqlite").find("secret") != std::string::npos; }))
                << "the network process did not store the session";
        }
        EXPECT_EQ(app.terminate(), 0);
    };
    auto sessionSentTo = [&](const std::string& target) {
        for (const auto& request : server.requests()) {
            if (request.target == target) return request.cookie("tolvar_session");
        }
        return std::string("(not requested)");
    };
    visit("/signin");
    ASSERT_TRUE(fs::exists(data / "web" / "cookies.sqlite"));
    // Whatever the engine creates inside later is behind these folders.
    expectPrivate(folders, "new install");
    expectPrivate({data / "web" / "cookies.sqlite"}, "new install");

    // An install from before, with a damaged cookie store and everything open to others, tightened
    // as the application starts.
    std::string noise(8192, '\0');
    std::mt19937 random(14);
    for (auto& byte : noise) byte = char(random());
    std::ofstream(data / "web" / "cookies.sqlite", std::ios::binary) << noise;
    std::ofstream(config / "defaults.ini") << "[General]\n";
    std::vector<fs::path> existing;
    for (const auto& folder : {data, cache, config}) {
        fs::permissions(folder, fs::perms(0755));
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            fs::permissions(entry.path(), entry.is_directory() ? fs::perms(0755) : fs::perms(0644));
            existing.push_back(entry.path());
        }
    }
    // The damaged store is set aside and a fresh one made, behind the private folders.
    std::erase(existing, data / "web" / "cookies.sqlite");
    ASSERT_GE(existing.size(), 3u);
    // A per-user installation's bundle lives among the data; its signed modes stay.
    const fs::path installed = data / "Tolvar.app" / "bin" / "tolvar";
    fs::create_directories(installed.parent_path());
    std::ofstream(installed) << "#!/bin/sh\n";
    fs::permissions(installed, fs::perms(0755));
    visit("/signin-again", [&] {
        expectPrivate(folders, "old install, while running");
        expectPrivate(existing, "old install, while running");
        EXPECT_EQ(modeOf(installed), 0755u);
        EXPECT_EQ(modeOf(installed.parent_path()), 0755u);
    });
    ::umask(previous);
    // The damaged file is kept beside the fresh store, byte for byte, and signing in lasts again.
    std::vector<fs::path> setAside;
    for (const auto& entry : fs::directory_iterator(data / "web")) {
        if (entry.path().filename().string().starts_with("cookies.sqlite.damaged-")) setAside.push_back(entry.path());
    }
    ASSERT_EQ(setAside.size(), 1u);
    EXPECT_EQ(testsupport::readFile(setAside[0]), noise);
    visit("/again");
    EXPECT_EQ(sessionSentTo("/again"), "secret");
    automate(server.url("/ephemeral"));
    visit("/ephemeral");
    EXPECT_EQ(sessionSentTo("/ephemeral"), "");
}

// One automation launch: the session planted before the first request, the page's process in its
// sandbox, and the engine's processes killed and recovered.
TEST_F(WebEngineSafetyTest, AutomationLaunchPlantsTheSessionSandboxesThePageAndKilledEngineProcessesRecover) {
    LoopbackHttpServer server([](const HttpRequest& request) { return titledPage("Page " + request.target); });
    automate(server.url("/app"), "planted-session");
    env["TOLVAR_E2E_PRETEND_VERSION"] = "9.8.7";
    AppProcess app(TOLVAR_EXECUTABLE, env);
    EXPECT_EQ(expect("web-loaded")["url"], server.url("/app"));
    // The very first request already carries the planted session cookie.
    const auto first = server.requests().at(0);
    EXPECT_EQ(first.target, "/app");
    EXPECT_EQ(first.cookie("tolvar_session"), "planted-session");
    EXPECT_TRUE(first.header("user-agent").ends_with(" TolvarDesktop/9.8.7 (Linux)")) << first.header("user-agent");
    const auto snapshot = expect("main-snapshot");
    EXPECT_EQ(snapshot["url"], server.url("/app"));
    EXPECT_GT(fs::file_size(automation / snapshot.value("file", "none")), 0u);

    // The page's process runs under bubblewrap in namespaces of its own, with a seccomp filter.
    pid_t web = waitForProcess(app.pid(), "WebKitWebProces");
    ASSERT_NE(web, 0) << "no web process";
    if (const auto refusal = bubblewrapRefusal()) {
        std::cerr << "this kernel refuses bubblewrap, so the page's sandbox is not checked: " << *refusal << "\n";
    } else {
        const auto parent = processInfo(web);
        ASSERT_TRUE(parent);
        EXPECT_EQ(processInfo(parent->parent).value_or(ProcessInfo{}).name, "bwrap");
        for (const char* kind : {"pid", "net", "mnt", "uts"}) EXPECT_NE(namespaceOf(web, kind), namespaceOf(0, kind)) << kind;
        EXPECT_NE(testsupport::readFile("/proc/" + std::to_string(web) + "/status").find("Seccomp:\t2"), std::string::npos)
            << "no seccomp filter";
        EXPECT_FALSE(anyEvent("web-sandbox-unavailable"));
    }

    // The page's process: a pending script fails at once, the page loads again and answers.
    // The second script answers once the first is waiting in the page.
    send("js return await new Promise(() => {})\njs return 'behind'\n");
    EXPECT_EQ(expect("js-result")["result"], "behind");
    ::kill(web, SIGKILL);
    EXPECT_TRUE(expect("js-result").value("result", "").starts_with("ERROR "));
    lastSeq = 0;
    EXPECT_EQ(expect("web-process-ended")["reason"], "crashed");
    EXPECT_EQ(expect("web-loaded")["url"], server.url("/app"));
    EXPECT_EQ(script("return document.title"), "Page /app");

    // The network process: the session is planted again before the next page.
    const pid_t network = waitForProcess(app.pid(), "WebKitNetworkPr");
    ASSERT_NE(network, 0);
    ::kill(network, SIGKILL);
    EXPECT_EQ(expect("network-process-ended")["sessionPlanted"], true);
    send("go /next\n");
    EXPECT_EQ(expect("web-loaded")["url"], server.url("/next"));
    for (const auto& request : server.requests()) {
        if (request.target == "/next") {
            EXPECT_EQ(request.cookie("tolvar_session"), "planted-session");
        }
    }
    EXPECT_EQ(script("return document.title"), "Page /next");
    EXPECT_EQ(app.terminate(), 0) << "SIGTERM ends the application cleanly";
}

}  // namespace
}  // namespace launchtest
