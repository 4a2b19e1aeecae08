// The in-place installer against real update archives served on loopback, with the bundle's own
// signing and assessment tools. Every failing case also checks that the installed bundle is unchanged
// byte for byte and that nothing is left behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
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
using SelfUpdate::detail::Stage;
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

// Every entry of a tree with its kind, mode and full content (or link target).
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> entries;
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
        struct stat info {};
        lstat(it->path().c_str(), &info);
        std::string value = std::to_string(info.st_mode) + ":";
        if (S_ISREG(info.st_mode)) value += testsupport::readFile(it->path());
        else if (S_ISLNK(info.st_mode)) value += fs::read_symlink(it->path()).string();
        entries[fs::relative(it->path(), root).string()] = std::move(value);
    }
    return entries;
}

// Packs the entries of `folder` into a zip archive without compression (quick to make and unpack).
void zipFolder(const fs::path& folder, const fs::path& archive, const std::string& entries = "Tolvar.app",
               const std::string& extra = "") {
    ASSERT_EQ(shell("cd '" + folder.string() + "' && bsdtar --format zip --options zip:compression=store " + extra +
                    " -cf '" + archive.string() + "' " + entries),
              0);
}

// A server whose answer to each request is a 200 without a length, after which it sends `chunk`
// every `pause` until the client goes away: an endless or trickling download.
std::unique_ptr<LoopbackHttpServer> streamingServer(const std::string& chunk, std::chrono::milliseconds pause) {
    return std::make_unique<LoopbackHttpServer>([=](const HttpRequest&) {
        return HttpResponse{.contentType = "application/zip", .then = HttpResponse::Then::repeat, .repeated = chunk,
                            .pause = pause};
    });
}

// Runs one install on this thread's main loop and answers its result.
std::optional<Failure> install(const InstallSetup& setup, const std::string& url, const std::string& version) {
    bool finished = false;
    std::optional<Failure> result;
    const auto worker = SelfUpdate::detail::install(setup, url, version, [&](std::optional<Failure> failure) {
        result = std::move(failure);
        finished = true;
    });
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return finished; }, std::chrono::seconds(100)))
        << "the install never completed";
    return result;
}

class InstallerTest : public ::testing::Test {
public:
    TemporaryFolder home;
    fs::path apps = home.path() / "apps";
    fs::path installed = apps / "Tolvar.app";
    fs::path work = home.path() / "tmp";
    fs::path scratch = home.path() / "scratch";
    std::string team;
    std::map<std::string, std::string> before;
    // Serves the file named by the path of the address (the test's own files only), or 404.
    LoopbackHttpServer server{[](const HttpRequest& request) {
        if (!fs::is_regular_file(request.target)) return HttpResponse{.status = 404, .body = "not found"};
        return HttpResponse{.contentType = "application/zip", .body = testsupport::readFile(request.target)};
    }};
    InstallSetup setup;

    void SetUp() override {
        ASSERT_TRUE(fs::exists(fixtures / "2.0" / "Tolvar.app")) << "run the update_fixtures test first";
        team = firstLine(fixtures / "team.txt");
        fs::create_directories(apps);
        fs::create_directories(work);
        fs::create_directories(scratch);
        ASSERT_EQ(shell("cp -a '" + (fixtures / "1.0" / "Tolvar.app").string() + "' '" + installed.string() + "'"), 0);
        before = snapshot(installed);
        setup = InstallSetup{.installed = installed, .temporaryRoot = work, .tools = tools,
                             .expectTeamVariable = std::nullopt, .limits = {64ull << 20, 20}};
    }

    // A copy of the signed 2.0 bundle in a folder of its own, to be changed and packed.
    fs::path offeredCopy(const std::string& name = "offered") {
        const fs::path folder = scratch / name;
        fs::create_directories(folder);
        EXPECT_EQ(shell("cp -a '" + (fixtures / "2.0" / "Tolvar.app").string() + "' '" + folder.string() + "/'"), 0);
        return folder;
    }

    std::string serve(const fs::path& archive) { return server.url(archive.string()); }

    std::string servePacked(const fs::path& folder, const std::string& entries = "Tolvar.app", const std::string& extra = "") {
        const fs::path archive = scratch / (folder.filename().string() + ".zip");
        zipFolder(folder, archive, entries, extra);
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

    // The install fails with this description (or one starting with it) and changes nothing;
    // answers the description.
    std::string expectFailure(const std::string& url, const std::string& version, const std::string& description,
                              bool prefixOnly = false) {
        const auto failure = install(setup, url, version);
        expectUnchanged();
        if (!failure) {
            ADD_FAILURE() << "installed although it should have failed";
            return {};
        }
        if (prefixOnly) EXPECT_TRUE(failure->description().starts_with(description)) << failure->description();
        else EXPECT_EQ(failure->description(), description);
        return failure->description();
    }

    void expectInstalled(const std::string& url) {
        const auto failure = install(setup, url, "2.0");
        EXPECT_FALSE(failure.has_value()) << failure->description();
        EXPECT_EQ(bundlesig::infoValue(installed, "CFBundleShortVersionString"), "2.0");
        const auto verified = bundlesig::verify(installed);
        EXPECT_TRUE(verified.ok) << verified.text;
        EXPECT_EQ(verified.text, team);
        EXPECT_TRUE(snapshot(installed) == snapshot(fixtures / "2.0" / "Tolvar.app"));
        expectNoLeftovers();
    }
};

TEST_F(InstallerTest, InstallsANewerBuildOfTheSameTeam) {
    expectInstalled(serve(fixtures / "releases" / "Tolvar-2.0.zip"));
}

TEST_F(InstallerTest, InstallsFromAWorkingFolderOnAnotherFileSystem) {
    if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no tmpfs at /dev/shm";
    TemporaryFolder dummy;  // a name that is ours alone
    const fs::path shm = fs::path("/dev/shm") / dummy.path().filename();
    fs::create_directories(shm);
    setup.temporaryRoot = shm;
    expectInstalled(serve(fixtures / "releases" / "Tolvar-2.0.zip"));
    for (const auto& entry : fs::directory_iterator(shm)) ADD_FAILURE() << "left behind: " << entry.path();
    fs::remove_all(shm);
}

TEST_F(InstallerTest, InstallsWithTwoRenamesWhereTheFileSystemCannotExchange) {
    setup.exchangeSupported = false;
    expectInstalled(serve(fixtures / "releases" / "Tolvar-2.0.zip"));
}

TEST_F(InstallerTest, ArchiveAnsweredWith404OrUnreachable) {
    expectFailure(server.url((scratch / "missing.zip").string()), "2.0", "download failed: HTTP 404");
    // A port that was free a moment ago: nothing listens there.
    expectFailure(streamingServer("x", std::chrono::milliseconds(0))->url("/Tolvar.zip"), "2.0", "download failed: ", true);
}

TEST_F(InstallerTest, EndlessDownloadIsCapped) {
    const auto endless = streamingServer(std::string(1 << 16, 'x'), std::chrono::milliseconds(0));
    expectFailure(endless->url("/Tolvar.zip"), "2.0", "download failed: the download is larger than 67108864 bytes");
}

TEST_F(InstallerTest, TricklingDownloadIsCutOffInTime) {
    const auto trickle = streamingServer("x", std::chrono::milliseconds(50));
    setup.limits.longestSeconds = 2;
    expectFailure(trickle->url("/Tolvar.zip"), "2.0", "download failed: the download took longer than 2 seconds");
}

// The worker's owner goes away mid-download: the install is cancelled and its thread joined at
// once, and the completion still reports the cancel on the main loop.
TEST_F(InstallerTest, DroppedWorkerCancelsTheInstallAndJoinsItsThread) {
    const auto trickle = streamingServer("x", std::chrono::milliseconds(50));
    std::optional<Failure> result;
    bool finished = false;
    auto worker = SelfUpdate::detail::install(setup, trickle->url("/Tolvar.zip"), "2.0",
                                              [&](std::optional<Failure> failure) {
                                                  result = std::move(failure);
                                                  finished = true;
                                              });
    ASSERT_TRUE(worker.running());
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return !trickle->requests().empty(); }, std::chrono::seconds(10)));
    worker = {};
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return finished; }, std::chrono::seconds(5)));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->description(), "cancelled by the user");
    expectUnchanged();
}

TEST_F(InstallerTest, TarArchiveIsNotAZip) {
    std::ofstream(scratch / "Tolvar.zip") << "this is not an archive";
    expectFailure(serve(scratch / "Tolvar.zip"), "2.0", "couldn't unpack the update");
    const fs::path folder = offeredCopy();
    ASSERT_EQ(shell("cd '" + folder.string() + "' && bsdtar -cf '" + (scratch / "Tolvar.tar").string() + "' Tolvar.app"), 0);
    expectFailure(serve(scratch / "Tolvar.tar"), "2.0", "couldn't unpack the update");
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
    zipFolder(folder, archive, "Tolvar.app", "--options zip:compression=deflate");
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
    expectFailure(url, "2.0", "couldn't unpack the update");
    watching = false;
    watcher.join();
    EXPECT_LE(largest.load(), std::uintmax_t{8} << 20) << "unpacked past the limit";
}

TEST_F(InstallerTest, ArchiveJustUnderTheUnpackLimitInstalls) {
    std::uintmax_t size = 0;
    for (const auto& entry : fs::recursive_directory_iterator(fixtures / "2.0" / "Tolvar.app")) {
        if (entry.is_regular_file()) size += entry.file_size();
    }
    setup.largestUnpacked = size + (1 << 20);
    expectInstalled(serve(fixtures / "releases" / "Tolvar-2.0.zip"));
}

TEST_F(InstallerTest, ZipWithoutTolvarApp) {
    const fs::path folder = offeredCopy();
    fs::rename(folder / "Tolvar.app", folder / "Other.app");
    expectFailure(servePacked(folder, "Other.app"), "2.0", "no Tolvar.app in the update");
}

TEST_F(InstallerTest, EntryClimbingOutOrWithAnAbsolutePath) {
    for (const fs::path& target : {fs::path("../escape"), home.path() / "absolute-escape"}) {
        const fs::path folder = offeredCopy();
        std::ofstream(folder / "escape") << "out";
        expectFailure(servePacked(folder, "Tolvar.app escape", "-P -s '|^escape$|" + target.string() + "|'"), "2.0",
                      "couldn't unpack the update");
        EXPECT_FALSE(fs::exists(work / "escape") || fs::exists(home.path() / "absolute-escape"));
        fs::remove_all(folder);
    }
}

TEST_F(InstallerTest, LinkThatLeavesTheBundleIsRefusedBeforeUnpacking) {
    for (const std::string target : {"../../../../etc/passwd", "/etc/passwd", "../../x"}) {
        const fs::path folder = offeredCopy();
        fs::create_symlink(target, folder / "Tolvar.app" / "share" / "passwd");
        expectFailure(servePacked(folder), "2.0", "couldn't unpack the update");
        fs::remove_all(folder);
    }
}

// What the signature check refuses is tested with the signing tool; here, that its refusal stops
// the install.
TEST_F(InstallerTest, UnsignedBundle) {
    const fs::path folder = offeredCopy();
    fs::remove_all(folder / "Tolvar.app" / "_CodeSignature");
    const auto failure = expectFailure(servePacked(folder), "2.0", "code signature invalid: ", true);
    EXPECT_TRUE(failure.ends_with("Tolvar.app: code object is not signed at all")) << failure;
}

TEST_F(InstallerTest, AnotherKeyClaimingTheSameTeam) {
    const fs::path folder = offeredCopy();
    const fs::path bundle = folder / "Tolvar.app";
    // The impostor names the real team wherever a bundle's own files could say it.
    std::ofstream(bundle / "Info.json", std::ios::trunc)
        << R"({"CFBundleIdentifier": "app.tolvar.desktop\nTeamIdentifier=)" << team
        << R"(", "CFBundleShortVersionString": "2.0", "CFBundleExecutable": "bin/tolvar", "TeamIdentifier": ")" << team
        << "\"}";
    ASSERT_EQ(shell("'" + (tools / "tolvar-codesign").string() + "' --sign '" + (fixtures / "other.pem").string() +
                    "' '" + bundle.string() + "' 2>/dev/null"),
              0);
    const std::string other = firstLine(fixtures / "other.txt");
    ASSERT_NE(other, team);
    expectFailure(servePacked(folder), "2.0", "signed by a different team: " + other + " vs " + team);
}

TEST_F(InstallerTest, SignedBundleOfAnotherVersion) {
    expectFailure(serve(fixtures / "releases" / "Tolvar-1.0.zip"), "2.0", "version mismatch: 1.0 instead of 2.0");
}

TEST_F(InstallerTest, BundleBuiltForAnotherArchitecture) {
    const fs::path folder = offeredCopy();
    const fs::path bundle = folder / "Tolvar.app";
    claimAnotherArchitecture(bundle / "bin" / "tolvar");
    ASSERT_EQ(shell("'" + (tools / "tolvar-codesign").string() + "' --sign '" + (fixtures / "team.pem").string() +
                    "' '" + bundle.string() + "' 2>/dev/null"),
              0);
    const auto failure = expectFailure(servePacked(folder), "2.0", "not accepted by Gatekeeper: ", true);
    EXPECT_NE(failure.find("built for another architecture"), std::string::npos) << failure;
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
    const std::string url = serve(fixtures / "releases" / "Tolvar-2.0.zip");
    bool calledAtOnce = false;
    std::optional<Failure> failure;
    const auto worker = SelfUpdate::detail::install(setup, url, "2.0", [&](std::optional<Failure> result) {
        failure = result;
        calledAtOnce = true;
    });
    EXPECT_TRUE(calledAtOnce) << "notWritable is answered directly";
    EXPECT_FALSE(worker.running());
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->description(), "app folder not writable");
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
        install(chosen, url, "2.0");
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
