// `tolvar --install`, `--uninstall` and the command line, run as a user would: from the build tree's
// bundle, into a temporary HOME whose XDG data folder has a space in its name, on a private display
// and D-Bus session; and the installed copy started through its desktop entries.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <set>

#include <nlohmann/json.hpp>

#include "capture/CaptureRules.h"
#include "tests/integration/LaunchTest.h"
#include "tests/support/DevService.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::Journal;
using testsupport::LoopbackHttpServer;
using testsupport::TemporaryFolder;
using Environment = std::map<std::string, std::optional<std::string>>;

const fs::path buildBundle = TOLVAR_BUNDLE;
const fs::path fixtures = TOLVAR_UPDATE_FIXTURES;
constexpr auto eventTimeout = 60s;

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs a command line through /bin/sh with the environment changed as given (nothing removes a
// variable), and collects its exit status and output.
Outcome run(const std::string& command, const Environment& env, const fs::path& scratch) {
    std::string line = "env";
    for (const auto& [name, value] : env) {
        if (!value) line += " -u " + name;  // options before the assignments
    }
    for (const auto& [name, value] : env) {
        if (value) line += " " + quoted(name + "=" + *value);
    }
    line += " sh -c " + quoted(command) + " >" + quoted((scratch / "out").string()) + " 2>" + quoted((scratch / "err").string());
    const int status = std::system(line.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testsupport::readFile(scratch / "out"),
            testsupport::readFile(scratch / "err")};
}

// Every entry under `root` with its kind, mode, size, modification time, inode and (for files) bytes:
// two equal snapshots mean nothing at all was written.
using Tree = std::map<std::string, std::string>;
// A failed attempt may leave a folder's modification time changed (a staged copy came and went):
// `folderTimes` false leaves those out.
Tree snapshot(const fs::path& root, bool foldersToo = true, bool folderTimes = true) {
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        // The runtime folder holds the sockets of running processes (the web engine's D-Bus proxies),
        // which come and go on their own: no installed file lives there.
        if (it.depth() == 0 && it->path().filename() == "runtime") {
            it.disable_recursion_pending();
            continue;
        }
        struct stat info {};
        ::lstat(it->path().c_str(), &info);
        if (S_ISDIR(info.st_mode) && !foldersToo) continue;
        std::string description = std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " " +
                                  std::to_string(info.st_ino);
        if (!S_ISDIR(info.st_mode) || folderTimes) {
            description += " " + std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
        }
        if (S_ISREG(info.st_mode)) description += " " + std::to_string(std::hash<std::string>{}(testsupport::readFile(it->path())));
        tree[fs::relative(it->path(), root).string()] = description;
    }
    return tree;
}

// The application processes of `bundle` started with this automation folder (the desktop's launcher
// starts them, so the test finds them by their program and environment). bin/tolvar hands each
// launch to libexec/tolvar-app in the same process.
std::vector<pid_t> instancesOf(const fs::path& bundle, const fs::path& automation) {
    const fs::path executable = bundle / "libexec" / "tolvar-app";
    std::vector<pid_t> pids;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code error;
        if (fs::read_symlink(entry.path() / "exe", error) != executable) continue;
        const std::string environ = testsupport::readFile(entry.path() / "environ");
        if (environ.find("TOLVAR_E2E_DIR=" + automation.string() + '\0') != std::string::npos) {
            pids.push_back(std::stoi(name));
        }
    }
    return pids;
}

void stopInstances(const fs::path& bundle, const fs::path& automation) {
    for (const pid_t pid : instancesOf(bundle, automation)) ::kill(pid, SIGTERM);
    launchtest::waitUntil([&] { return instancesOf(bundle, automation).empty(); }, 10s);
    for (const pid_t pid : instancesOf(bundle, automation)) ::kill(pid, SIGKILL);
}

bool mainWindowVisible() { return !testsupport::commandOutput("xdotool search --onlyvisible --name '^Tolvar$' 2>/dev/null").empty(); }

class PerUserInstall : public ::testing::Test {
protected:
    TemporaryFolder home;
    TemporaryFolder scratchFolder;  // the commands' output, apart from the home the test compares
    fs::path scratch = scratchFolder.path();
    Environment env = testsupport::userEnvironment(home.path());
    fs::path dataHome = home.path() / "my data";  // a space, which the Exec lines must quote
    fs::path configHome = home.path() / "config";
    fs::path installed = dataHome / "tolvar" / "Tolvar.app";
    fs::path launcher = dataHome / "applications" / "app.tolvar.desktop.desktop";
    fs::path autostart = configHome / "autostart" / "app.tolvar.desktop.desktop";
    fs::path metainfo = dataHome / "metainfo" / "app.tolvar.desktop.metainfo.xml";
    LoopbackHttpServer page{[](const testsupport::HttpRequest&) {
        return testsupport::HttpResponse{.body = "<html><title>start</title></html>"};
    }};

    void SetUp() override {
        fs::create_directories(scratch);
        fs::create_directories(dataHome);
        env["XDG_DATA_HOME"] = dataHome.string();
        for (const char* name : {"TOLVAR_E2E_DIR", "TOLVAR_E2E_SESSION", "TOLVAR_UPDATE_FEED", "TOLVAR_E2E_PRETEND_VERSION",
                                 "TOLVAR_E2E_EXPECT_TEAM"}) {
            env[name] = std::nullopt;
        }
    }

    Outcome tolvar(const fs::path& bundle, const std::string& arguments) {
        return run(quoted((bundle / "bin" / "tolvar").string()) + " " + arguments, env, scratch);
    }

    // The environment of an automated run of the installed copy, journal in `automation`.
    Environment automated(const fs::path& automation) {
        fs::create_directories(automation);
        Environment all = env;
        all["TOLVAR_E2E_DIR"] = automation.string();
        all["TOLVAR_START_URL"] = page.url("/start");
        return all;
    }
};

TEST(CommandLine, HelpVersionAndUnknownOptionsNeedNoDisplay) {
    TemporaryFolder scratch;
    const Environment noDisplay{{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}};
    const std::string tolvar = quoted((buildBundle / "bin" / "tolvar").string());

    const auto help = run(tolvar + " --help", noDisplay, scratch.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("\n  --quick-save "), std::string::npos) << help.out;
    const auto version = run(tolvar + " --version", noDisplay, scratch.path());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "Tolvar " TOLVAR_VERSION "\n");

    for (const char* wrong : {"--frobnicate", "--purge", "--install --uninstall", "stray"}) {
        const auto refused = run(tolvar + " " + wrong, noDisplay, scratch.path());
        EXPECT_EQ(refused.status, 2) << wrong;
        EXPECT_EQ(refused.out, "") << wrong;
        EXPECT_TRUE(refused.err.starts_with("tolvar: ")) << refused.err;
    }
}

TEST_F(PerUserInstall, InstallsEntriesThatLaunchTheInstalledCopyAndUninstallsToTheData) {
    // Data a user already has: it must outlive --uninstall and go with --purge.
    fs::create_directories(dataHome / "tolvar" / "web");
    // Begins like a database, so the start does not set it aside as a damaged store.
    const std::string session("SQLite format 3\0session", 23);
    std::ofstream(dataHome / "tolvar" / "web" / "cookies.sqlite") << session;
    fs::create_directories(configHome / "tolvar");
    std::ofstream(configHome / "tolvar" / "defaults.ini") << "[defaults]\n";

    const std::string extensionEntryName = std::string(capture::chromiumExtensionId) + ".json";
    const auto first = tolvar(buildBundle, "--install");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err, "");
    // What the browser helpers hold is tested with capture's; here, that --install writes them.
    for (const auto& file : {installed / "bin" / "tolvar", launcher, autostart, metainfo,
                             dataHome / "icons/hicolor/48x48/apps/app.tolvar.desktop.png",
                             dataHome / "icons/hicolor/symbolic/apps/app.tolvar.desktop-symbolic.svg",
                             configHome / "chromium/NativeMessagingHosts/app.tolvar.desktop.capture.json",
                             configHome / "vivaldi/External Extensions" / extensionEntryName}) {
        EXPECT_TRUE(fs::exists(file)) << file;
    }
    const std::string exec = "Exec=\"" + installed.string() + "/bin/tolvar\"";
    EXPECT_NE(testsupport::readFile(launcher).find(exec + "\n"), std::string::npos) << testsupport::readFile(launcher);
    EXPECT_NE(testsupport::readFile(launcher).find(exec + " --quick-save\n"), std::string::npos);
    EXPECT_NE(testsupport::readFile(autostart).find(exec + " --background\n"), std::string::npos);
    for (const auto& check : {"desktop-file-validate " + quoted(launcher.string()),
                              "desktop-file-validate " + quoted(autostart.string()),
                              "appstreamcli validate --no-net " + quoted(metainfo.string())}) {
        const auto result = run(check, env, scratch);
        EXPECT_EQ(result.status, 0) << check << "\n" << result.out << result.err;
    }

    // A second install of the same bundle writes nothing at all.
    const Tree afterFirst = snapshot(home.path() / "my data");
    const Tree configAfterFirst = snapshot(configHome);
    EXPECT_EQ(tolvar(buildBundle, "--install").status, 0);
    EXPECT_EQ(snapshot(home.path() / "my data"), afterFirst);
    EXPECT_EQ(snapshot(configHome), configAfterFirst);

    // The launcher entry starts the installed copy.
    const fs::path launched = home.path() / "launched";
    ASSERT_EQ(run("gio launch " + quoted(launcher.string()), automated(launched), scratch).status, 0);
    EXPECT_TRUE(Journal(launched).waitFor("web-loaded", eventTimeout));
    EXPECT_EQ(instancesOf(installed, launched).size(), 1u);
    const std::string shown = launchtest::waitForMainWindow();
    ASSERT_FALSE(shown.empty());
    // The window's class is the entry's StartupWMClass, and it carries the application's icon.
    const std::string properties = testsupport::commandOutput("xprop -id " + shown + " WM_CLASS _NET_WM_ICON");
    EXPECT_NE(testsupport::readFile(launcher).find("\nStartupWMClass=Tolvar\n"), std::string::npos);
    EXPECT_NE(properties.find("WM_CLASS(STRING) = \"tolvar\", \"Tolvar\""), std::string::npos) << properties;
    EXPECT_NE(properties.find("_NET_WM_ICON(CARDINAL) = "), std::string::npos) << properties.substr(0, 200);
    stopInstances(installed, launched);

    // The login entry starts the installed copy in the background (what a background start does is
    // tested in tests/e2e); a later launch shows the window; "Start at Login" in the Tolvar menu
    // removes and restores the autostart entry.
    const fs::path background = home.path() / "background";
    const auto loginEnv = automated(background);
    ASSERT_EQ(run("gio launch " + quoted(autostart.string()), loginEnv, scratch).status, 0);
    const auto asleep = Journal(background).waitFor("engine-suspended", eventTimeout);
    ASSERT_TRUE(asleep);
    EXPECT_EQ((*asleep)["reason"], "background-start");
    EXPECT_FALSE(mainWindowVisible());
    EXPECT_EQ(run(quoted((installed / "bin/tolvar").string()), loginEnv, scratch).status, 0);
    const std::string window = launchtest::waitForMainWindow();
    ASSERT_FALSE(window.empty());
    for (const bool expected : {false, true}) {
        // F10 opens the Tolvar menu; "Start at Login" is its third item.
        testsupport::commandOutput("xdotool windowactivate --sync " + window + " 2>/dev/null; xdotool windowfocus --sync " + window +
               " key F10 Down Down Down Return");
        EXPECT_TRUE(launchtest::waitUntil([&] { return fs::exists(autostart) == expected; }, 10s))
            << "Start at Login did not turn " << (expected ? "on" : "off");
    }
    stopInstances(installed, background);

    // Uninstalling removes exactly what the install wrote; the data stays until --purge.
    const Tree beforeData = snapshot(home.path(), false);
    const auto removed = tolvar(installed, "--uninstall");
    EXPECT_EQ(removed.status, 0) << removed.err;
    const Tree afterData = snapshot(home.path(), false);
    std::set<std::string> gone;
    for (const auto& [path, _] : beforeData) {
        if (!afterData.contains(path)) gone.insert(path);
    }
    for (const auto& path : gone) {
        const bool ours = path.starts_with("my data/tolvar/Tolvar.app/") || path.find("app.tolvar.desktop") != std::string::npos ||
                          path.ends_with("/External Extensions/" + extensionEntryName);
        EXPECT_TRUE(ours) << "removed " << path;
    }
    for (const auto& [path, description] : afterData) EXPECT_EQ(beforeData.at(path), description) << path;
    for (const auto& path : {launcher, autostart, metainfo, installed,
                             configHome / "vivaldi" / "External Extensions" / extensionEntryName}) {
        EXPECT_FALSE(fs::exists(path)) << path;
        EXPECT_NE(removed.out.find("removed " + path.string() + "\n"), std::string::npos) << removed.out;
    }
    EXPECT_EQ(testsupport::readFile(dataHome / "tolvar" / "web" / "cookies.sqlite"), session);
    EXPECT_TRUE(fs::exists(configHome / "tolvar" / "defaults.ini"));

    EXPECT_EQ(tolvar(buildBundle, "--uninstall --purge").status, 0);
    EXPECT_FALSE(fs::exists(dataHome / "tolvar"));
    EXPECT_FALSE(fs::exists(configHome / "tolvar"));
}

TEST_F(PerUserInstall, FailuresSayWhatAndWhereAndKeepTheEarlierInstall) {
    ASSERT_EQ(tolvar(buildBundle, "--install").status, 0);
    // Another bundle, which an install would really swap in.
    const fs::path other = home.path() / "other" / "Tolvar.app";
    fs::create_directories(other.parent_path());
    ASSERT_EQ(std::system(("cp -a " + quoted(buildBundle.string()) + " " + quoted(other.string())).c_str()), 0);
    const std::string info = std::regex_replace(testsupport::readFile(other / "Info.json"),
                                                std::regex("\"CFBundleShortVersionString\": \"[^\"]*\""),
                                                "\"CFBundleShortVersionString\": \"9.9\"");
    std::ofstream(other / "Info.json") << info;

    // As root, permissions do not stop writing: that case runs as the nobody user.
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* name;
        std::function<void()> arrange, restore;
        std::string prefix;    // before the command
        std::string message;   // the one line on standard error
    };
    const fs::path applications = dataHome / "applications";
    const std::vector<Case> cases{
        {"not writable",
         [&] {
             fs::permissions(dataHome / "tolvar", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                             fs::perm_options::remove);
             fs::permissions(home.path(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
         },
         [&] { fs::permissions(dataHome / "tolvar", fs::perms::owner_write, fs::perm_options::add); },
         root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "",
         "tolvar: cannot install: " + (dataHome / "tolvar").string() + " is not writable\n"},
        {"a file where a folder belongs",
         [&] {
             fs::rename(applications, home.path() / "applications.away");
             std::ofstream(applications) << "in the way";
         },
         [&] {
             fs::remove(applications);
             fs::rename(home.path() / "applications.away", applications);
         },
         "", "tolvar: cannot install: " + applications.string() + " is not a folder\n"},
        {"disk full (a file-size limit)", [] {}, [] {}, "ulimit -f 64; ",
         "tolvar: cannot install: cannot copy the bundle into " + (dataHome / "tolvar").string() + ": File too large\n"},
        {"not a Tolvar.app",
         [&] {
             std::ofstream(other / "Info.json") << R"({"CFBundleIdentifier": "org.example.other", "CFBundleShortVersionString": "9.9", "CFBundleExecutable": "bin/tolvar"})";
         },
         [&] { std::ofstream(other / "Info.json") << info; },
         "", "tolvar: cannot install: " + other.string() + " is not a Tolvar.app: Info.json names \"org.example.other\", not app.tolvar.desktop\n"},
    };
    const Tree complete = snapshot(home.path() / "my data", true, false);
    const Tree config = snapshot(configHome, true, false);
    for (const auto& failure : cases) {
        failure.arrange();
        const auto outcome = run(failure.prefix + quoted((other / "bin" / "tolvar").string()) + " --install", env, scratch);
        failure.restore();
        EXPECT_EQ(outcome.status, 1) << failure.name;
        EXPECT_EQ(outcome.err, failure.message) << failure.name;
        EXPECT_EQ(snapshot(home.path() / "my data", true, false), complete) << failure.name << " changed the installation";
        EXPECT_EQ(snapshot(configHome, true, false), config) << failure.name;
    }
    // With the obstacles gone the same bundle installs, also over the installed copy while it runs.
    const fs::path automation = home.path() / "running";
    testsupport::AppProcess running(installed / "bin" / "tolvar", automated(automation));
    ASSERT_TRUE(Journal(automation).waitFor("web-loaded", eventTimeout));
    const auto replaced = tolvar(other, "--install");
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(tolvar(installed, "--version").out, "Tolvar 9.9\n");
    EXPECT_TRUE(running.running());
    EXPECT_EQ(running.terminate(), 0);
}

// The signed 1.0, installed for the user, updates itself to 2.0 in place; its entries and helper
// manifests are untouched and still lead to the installed (now 2.0) copy.
TEST_F(PerUserInstall, EntriesKeepWorkingAfterTheUpdaterSwapsInANewVersion) {
    ASSERT_EQ(tolvar(fixtures / "1.0" / "Tolvar.app", "--install").status, 0);
    const Tree entries = snapshot(dataHome / "applications");
    const Tree manifests = snapshot(configHome / "chromium");
    const fs::path releases = home.path() / "releases";
    fs::create_directories(releases);
    fs::copy_file(fixtures / "releases" / "Tolvar-2.0.zip", releases / "Tolvar-2.0.zip");
    testsupport::ServiceProcess service({"--port", "0", "--data", (home.path() / "service").string(), "--releases", releases.string()});
    std::ofstream(releases / "version.json") << R"({"version": "2.0", "url": ")" << service.base() << R"(/downloads/", "zip": ")"
                                             << service.base() << R"(/downloads/Tolvar-2.0.zip"})";

    const fs::path automation = home.path() / "updating";
    Environment updating = automated(automation);
    updating["TOLVAR_UPDATE_FEED"] = service.base() + "/downloads/version.json";
    updating["TMPDIR"] = (home.path() / "tmp").string();
    fs::create_directories(home.path() / "tmp");
    ASSERT_EQ(run("gio launch " + quoted(launcher.string()), updating, scratch).status, 0);
    const auto event = Journal(automation).waitFor("self-update", 120s);
    stopInstances(installed, automation);
    ASSERT_TRUE(event);
    EXPECT_EQ((*event)["ok"], true) << event->dump();

    EXPECT_EQ(tolvar(installed, "--version").out, "Tolvar 2.0\n");
    EXPECT_EQ(snapshot(dataHome / "applications"), entries);
    EXPECT_NE(testsupport::readFile(metainfo).find("<release version=\"2.0\""), std::string::npos);
    EXPECT_EQ(snapshot(configHome / "chromium"), manifests);
}

}  // namespace
