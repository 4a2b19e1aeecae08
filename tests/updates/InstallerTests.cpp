// The in-place installer against real update archives served on loopback, with the bundle's own
// signing and assessment tools. Every failing case also checks that the installed bundle is unchanged
// byte for byte and that nothing is left behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "tests/support/AppProcess.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/MainLoop.h"
#include "tools/BundleSignature.h"
#include "update/SelfUpdate.h"
#include "ElfEdit.h"

namespace {

namespace fs = std::filesystem;
using SelfUpdate::Failure;
using InstallSetup = SelfUpdate::detail::Setup;
using Stage = bundle::SwapStage;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::LoopbackHttpServer;
using testsupport::TemporaryFolder;

const fs::path fixtures = TOLVAR_UPDATE_FIXTURES;
const fs::path tools = TOLVAR_TOOLS_DIR;

int shell(const std::string& command) { return std::system(command.c_str()); }

std::string firstLine(const fs::path& file) {
    const std::string text = testsupport::readFile(file);
    return text.substr(0, text.find('\n'));
}

// Every entry of a bundle with its kind, mode and contents (or link target).
std::string snapshot(const fs::path& bundle) {
    const auto manifest = bundlesig::manifest(bundle);
    EXPECT_TRUE(manifest.ok) << manifest.text;
    return manifest.text;
}

// A server whose answer to each request is a 200 without a length, after which it sends `chunk`
// every `pause` until the client goes away: an endless or trickling download.
std::unique_ptr<LoopbackHttpServer> streamingServer(const std::string& chunk, std::chrono::milliseconds pause) {
    return std::make_unique<LoopbackHttpServer>([=](const HttpRequest&) {
        return HttpResponse{.contentType = "application/zip", .then = HttpResponse::Then::repeat, .repeated = chunk,
                            .pause = pause};
    });
}

// One install of 2.0 started on this thread's main loop, and its result once the completion has run.
struct Started {
    std::optional<Failure> result;
    bool finished = false;
    SelfUpdate::Worker worker;

    Started(const InstallSetup& setup, const std::string& url)
        : worker(SelfUpdate::detail::install(setup, url, "2.0", [this](std::optional<Failure> failure) {
              result = std::move(failure);
              finished = true;
          })) {}

    bool wait(std::chrono::seconds limit = std::chrono::seconds(100)) {
        return testsupport::runMainLoopUntil([&] { return finished; }, limit);
    }
};

std::optional<Failure> install(const InstallSetup& setup, const std::string& url) {
    Started started(setup, url);
    EXPECT_TRUE(started.wait()) << "the install never completed";
    return started.result;
}

class InstallerTest : public ::testing::Test {
public:
    TemporaryFolder home;
    fs::path apps = home.path() / "apps";
    fs::path installed = apps / "Tolvar.app";
    fs::path work = home.path() / "tmp";
    fs::path scratch = home.path() / "scratch";
    std::string team;
    std::string before;
    // Serves the file named by the path of the address (the test's own files only), or 404.
    LoopbackHttpServer server{[](const HttpRequest& request) {
        if (!fs::is_regular_file(request.target)) return HttpResponse{.status = 404, .body = "not found"};
        return HttpResponse{.contentType = "application/zip", .body = testsupport::readFile(request.target)};
    }};
    InstallSetup setup;
    int offers = 0;

    void SetUp() override {
        ASSERT_TRUE(fs::exists(fixtures / "2.0" / "Tolvar.app")) << "run the update_fixtures test first";
        team = firstLine(fixtures / "team.txt");
        fs::create_directories(work);
        fs::create_directories(scratch);
        installOneDotZero();
        before = snapshot(installed);
        setup = InstallSetup{.installed = installed, .temporaryRoot = work, .tools = tools,
                             .expectTeamVariable = std::nullopt, .limits = {64ull << 20, 20}};
    }

    void installOneDotZero() {
        fs::remove_all(apps);
        fs::create_directories(apps);
        ASSERT_EQ(shell("cp -a '" + (fixtures / "1.0" / "Tolvar.app").string() + "' '" + installed.string() + "'"), 0);
    }

    std::string serve(const fs::path& archive) { return server.url(archive.string()); }

    // The signed 2.0 bundle copied, changed, signed again with `key` (of fixtures/) unless it is "",
    // and packed as `entries` with bsdtar's `options` (a zip without compression by default).
    std::string offered(const std::function<void(const fs::path&)>& change, const std::string& key = "",
                        const std::string& entries = "Tolvar.app", const std::string& options = "") {
        const fs::path folder = scratch / std::to_string(++offers);
        fs::create_directories(folder);
        EXPECT_EQ(shell("cp -a '" + (fixtures / "2.0" / "Tolvar.app").string() + "' '" + folder.string() + "/'"), 0);
        if (change) change(folder / "Tolvar.app");
        if (!key.empty()) {
            EXPECT_EQ(shell("'" + (tools / "tolvar-codesign").string() + "' --sign '" + (fixtures / key).string() + "' '" +
                            (folder / "Tolvar.app").string() + "' 2>/dev/null"),
                      0);
        }
        const fs::path archive = folder.string() + ".archive";
        EXPECT_EQ(shell("cd '" + folder.string() + "' && bsdtar " +
                        (options.empty() ? "--format zip --options zip:compression=store" : options) + " -cf '" +
                        archive.string() + "' " + entries),
                  0);
        return serve(archive);
    }

    void expectNoLeftovers() {
        for (const auto& entry : fs::directory_iterator(work)) {
            EXPECT_FALSE(entry.path().filename().string().starts_with("tolvar-update-")) << entry.path();
        }
        for (const auto& entry : fs::directory_iterator(apps)) {
            EXPECT_EQ(entry.path().filename(), "Tolvar.app") << "left behind: " << entry.path();
        }
    }

    void expectUnchanged() {
        EXPECT_TRUE(snapshot(installed) == before) << "the installed bundle changed";
        expectNoLeftovers();
    }

    // The install fails with a description that matches `description` and changes nothing.
    void expectFailure(const std::string& url, const std::string& description) {
        const auto failure = install(setup, url);
        expectUnchanged();
        ASSERT_TRUE(failure.has_value()) << "installed although it should have failed";
        EXPECT_TRUE(std::regex_match(failure->description(), std::regex(description))) << failure->description();
    }

    // Each attack (a name, what makes the address to install from, the failure's description as a
    // regular expression) fails as described and changes nothing.
    using Attack = std::tuple<std::string, std::function<std::string()>, std::string>;
    void expectEachRefused(const std::vector<Attack>& attacks) {
        const InstallSetup base = setup;
        for (const auto& [attack, url, description] : attacks) {
            SCOPED_TRACE(attack);
            setup = base;
            expectFailure(url(), description);
        }
    }

    void expectInstalled(const std::string& url) {
        const auto failure = install(setup, url);
        ASSERT_FALSE(failure.has_value()) << failure->description();
        EXPECT_EQ(bundlesig::infoValue(installed, "CFBundleShortVersionString"), "2.0");
        const auto verified = bundlesig::verify(installed);
        EXPECT_TRUE(verified.ok) << verified.text;
        EXPECT_EQ(verified.text, team);
        EXPECT_TRUE(snapshot(installed) == snapshot(fixtures / "2.0" / "Tolvar.app"));
        expectNoLeftovers();
    }
};

// Each way to put a bundle in place: one exchange, two renames where the file system cannot exchange,
// and a copy from a working folder on another file system; each with an unpacking limit just above
// what the bundle holds.
TEST_F(InstallerTest, InstallsANewerBuildOfTheSameTeam) {
    std::uintmax_t size = 0;
    for (const auto& entry : fs::recursive_directory_iterator(fixtures / "2.0" / "Tolvar.app")) {
        if (entry.is_regular_file()) size += entry.file_size();
    }
    TemporaryFolder name;  // a name that is ours alone under /dev/shm
    const fs::path shm = fs::path("/dev/shm") / name.path().filename();
    const std::vector<std::pair<std::string, std::function<void(InstallSetup&)>>> ways{
        {"exchange", [](InstallSetup&) {}},
        {"two renames", [](InstallSetup& chosen) { chosen.exchangeSupported = false; }},
        {"copy from another file system", [&](InstallSetup& chosen) { chosen.temporaryRoot = shm; }},
    };
    const InstallSetup base = setup;
    for (const auto& [way, choose] : ways) {
        SCOPED_TRACE(way);
        installOneDotZero();
        setup = base;
        setup.largestUnpacked = size + (1 << 20);
        choose(setup);
        expectInstalled(serve(fixtures / "releases" / "Tolvar-2.0.zip"));
    }
    for (const auto& entry : fs::directory_iterator(shm)) ADD_FAILURE() << "left behind: " << entry.path();
    fs::remove_all(shm);
}

// Every download the installer must give up and every archive it must refuse, and what it says;
// none changes the installed bundle or leaves anything behind.
TEST_F(InstallerTest, RefusesEachAttackOnTheDownloadAndChangesNothing) {
    std::unique_ptr<LoopbackHttpServer> other;  // a server of the case's own, alive during its install
    const auto streaming = [&](std::string chunk, int pauseMs) {
        other = streamingServer(std::move(chunk), std::chrono::milliseconds(pauseMs));
        return other->url("/Tolvar.zip");
    };
    expectEachRefused({
        {"answered with 404", [&] { return server.url((scratch / "missing.zip").string()); }, "download failed: HTTP 404"},
        // A port that was free a moment ago: nothing listens there.
        {"unreachable", [&] { return streamingServer("x", std::chrono::milliseconds(0))->url("/T.zip"); }, "download failed: .+"},
        {"endless", [&] { return streaming(std::string(1 << 16, 'x'), 0); },
         "download failed: the download is larger than 67108864 bytes"},
        {"trickling", [&] { return setup.limits.longestSeconds = 2, streaming("x", 50); },
         "download failed: the download took longer than 2 seconds"},
    });
}

TEST_F(InstallerTest, RefusesEachAttackInTheArchiveAndChangesNothing) {
    const std::string otherTeam = firstLine(fixtures / "other.txt");
    ASSERT_NE(otherTeam, team);
    expectEachRefused({
        {"a tar archive", [&] { return offered(nullptr, "", "Tolvar.app", "--format ustar"); }, "couldn't unpack the update"},
        {"no Tolvar.app", [&] { return offered([](const fs::path& app) { fs::rename(app, app.parent_path() / "Other.app"); },
                                               "", "Other.app"); },
         "no Tolvar.app in the update"},
        {"an entry with an absolute path", [&] {
             return offered([](const fs::path& app) { std::ofstream(app.parent_path() / "escape") << "out"; }, "",
                            "Tolvar.app escape", "--format zip -P -s '|^escape$|" + (home.path() / "absolute-escape").string() + "|'");
         },
         "couldn't unpack the update"},
        {"a link out of the bundle",
         [&] { return offered([](const fs::path& app) { fs::create_symlink("/etc/passwd", app / "share" / "passwd"); }); },
         "couldn't unpack the update"},
        {"unsigned", [&] { return offered([](const fs::path& app) { fs::remove_all(app / "_CodeSignature"); }); },
         "code signature invalid: [\\s\\S]*Tolvar.app: code object is not signed at all"},
        // The impostor names the real team wherever a bundle's own files could say it.
        {"another key claiming the team", [&] {
             return offered([&](const fs::path& app) {
                 std::ofstream(app / "Info.json", std::ios::trunc)
                     << R"({"CFBundleIdentifier": "app.tolvar.desktop\nTeamIdentifier=)" << team
                     << R"(", "CFBundleShortVersionString": "2.0", "CFBundleExecutable": "bin/tolvar", "TeamIdentifier": ")"
                     << team << "\"}";
             }, "other.pem");
         },
         "signed by a different team: " + otherTeam + " vs " + team},
        {"another version", [&] { return serve(fixtures / "releases" / "Tolvar-1.0.zip"); }, "version mismatch: 1.0 instead of 2.0"},
        {"another architecture",
         [&] { return offered([](const fs::path& app) { claimAnotherArchitecture(app / "bin" / "tolvar"); }, "team.pem"); },
         "not accepted by Gatekeeper: [\\s\\S]*built for another architecture"},
    });
    EXPECT_FALSE(fs::exists(home.path() / "absolute-escape"));
}

// The worker's owner goes away mid-download: the install is cancelled and its thread joined at
// once, and the completion still reports the cancel on the main loop.
TEST_F(InstallerTest, DroppedWorkerCancelsTheInstallAndJoinsItsThread) {
    const auto trickle = streamingServer("x", std::chrono::milliseconds(50));
    Started started(setup, trickle->url("/Tolvar.zip"));
    ASSERT_TRUE(started.worker.running());
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return !trickle->requests().empty(); }, std::chrono::seconds(10)));
    started.worker = {};
    ASSERT_TRUE(started.wait(std::chrono::seconds(5)));
    ASSERT_TRUE(started.result.has_value());
    EXPECT_EQ(started.result->description(), "cancelled by the user");
    expectUnchanged();
}

TEST_F(InstallerTest, ArchiveBombStopsUnpackingBeforeTheDiskFills) {
    // 64 sparse files of 4 MB of zeros: a zip of a few hundred kilobytes that unpacks to 256 MB,
    // against a limit of 8 MB that no single file passes.
    const fs::path folder = scratch / "bomb";
    const fs::path bomb = folder / "Tolvar.app" / "share" / "bomb";
    fs::create_directories(bomb);
    fs::copy_file(fixtures / "2.0" / "Tolvar.app" / "Info.json", folder / "Tolvar.app" / "Info.json");
    for (int i = 0; i < 64; ++i) {
        std::ofstream(bomb / std::to_string(i)).close();
        ASSERT_EQ(truncate((bomb / std::to_string(i)).c_str(), 4 << 20), 0);
    }
    const fs::path archive = scratch / "bomb.zip";
    ASSERT_EQ(shell("cd '" + folder.string() + "' && bsdtar --format zip -cf '" + archive.string() + "' Tolvar.app"), 0);
    ASSERT_LT(fs::file_size(archive), 1u << 20);
    const std::string url = serve(archive);

    // Watches how much the working folders hold while the install runs.
    std::atomic<bool> watching = true;
    std::atomic<std::uintmax_t> largest = 0;
    std::thread watcher([&] {
        while (watching) {
            std::uintmax_t total = 0;
            std::error_code error;
            for (fs::recursive_directory_iterator it(work, error), end; !error && it != end; it.increment(error)) {
                std::error_code gone;  // files come and go while this looks
                if (it->is_regular_file(gone) && it->path().filename() != "update.zip") {
                    const auto size = fs::file_size(it->path(), gone);
                    if (!gone) total += size;
                }
            }
            largest = std::max<std::uintmax_t>(largest, total);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    setup.largestUnpacked = 8 << 20;
    expectFailure(url, "couldn't unpack the update");
    watching = false;
    watcher.join();
    EXPECT_LE(largest.load(), std::uintmax_t{8} << 20) << "unpacked past the limit";
}

TEST_F(InstallerTest, AppFolderNotWritableFailsBeforeAnyDownload) {
    bool mounted = false;
    if (geteuid() == 0) {
        // The superuser writes through modes; a read-only bind mount stops it.
        mounted = mount(apps.c_str(), apps.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                  mount(nullptr, apps.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        if (!mounted) GTEST_SKIP() << "cannot make a read-only folder as the superuser here";
    } else {
        fs::permissions(apps, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    }
    EXPECT_FALSE(SelfUpdate::detail::canInstallInPlace(installed));
    const Started started(setup, serve(fixtures / "releases" / "Tolvar-2.0.zip"));
    EXPECT_TRUE(started.finished) << "notWritable is answered directly";
    EXPECT_FALSE(started.worker.running());
    ASSERT_TRUE(started.result.has_value());
    EXPECT_EQ(started.result->description(), "app folder not writable");
    EXPECT_TRUE(server.requests().empty()) << "nothing is downloaded";
    if (mounted) umount(apps.c_str());
    else fs::permissions(apps, fs::perms::owner_all, fs::perm_options::replace);
    expectUnchanged();
}

// The installer killed at a step of the swap; the next start must find exactly one complete bundle
// and nothing else. The install runs in a child process that kills itself at that step.
void killedAt(InstallerTest& test, Stage stage, bool exchange, const std::string& expectedVersion) {
    const std::string url = test.serve(fixtures / "releases" / "Tolvar-2.0.zip");
    auto chosen = test.setup;
    chosen.exchangeSupported = exchange;
    chosen.atStage = [stage](Stage reached) {
        if (reached == stage) raise(SIGKILL);
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(60);  // a child that hangs ends, and the test fails instead of waiting for ever
        install(chosen, url);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the installer was not stopped at the step";

    SelfUpdate::detail::finishInterruptedInstall(test.installed, test.work);
    EXPECT_EQ(bundlesig::infoValue(test.installed, "CFBundleShortVersionString"), expectedVersion);
    const auto verified = bundlesig::verify(test.installed);
    EXPECT_TRUE(verified.ok) << verified.text;
    test.expectNoLeftovers();
}

TEST_F(InstallerTest, KilledBetweenVerificationAndSwapOrBetweenTheTwoRenames) {
    killedAt(*this, Stage::staged, true, "1.0");
    EXPECT_TRUE(snapshot(installed) == before);
    killedAt(*this, Stage::betweenRenames, false, "2.0");
}

}  // namespace
