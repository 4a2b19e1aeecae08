// The built tolvar-capture-host, driven as a browser drives it: length-prefixed JSON on its
// standard input until that ends, answers on its standard output, reports in the runtime folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "capture/BrowserHelpers.h"
#include "capture/CaptureRules.h"
#include "capture/ExtensionRoutes.h"
#include "capture/NativeMessaging.h"
#include "tests/support/DevService.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string frame(const std::string& body, std::uint32_t announced) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &announced, 4);
    return bytes + body;
}
std::string frame(const std::string& body) { return frame(body, static_cast<std::uint32_t>(body.size())); }

std::string report(const std::string& address) {
    return frame(json{{"browser", "chromium"}, {"address", address}, {"title", "T"}, {"focused", 1700000000000.0}}.dump());
}

const json accepted = {{"accepted", true}};

class CaptureHostTest : public ::testing::Test {
protected:
    testsupport::TemporaryFolder temporary;
    fs::path runtime = temporary.path() / "runtime";
    fs::path folder = runtime / "tolvar-capture";
    fs::path stateFile = folder / "chromium.json";

    void SetUp() override {
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    }

    json state() const { return json::parse(testsupport::readFile(stateFile), nullptr, false); }

    // Runs the host on `input` (with or without a runtime folder) until it ends; expects a clean exit
    // and answers what it wrote back, one value a frame.
    std::vector<json> run(const std::string& input, bool withRuntime = true) {
        const fs::path in = temporary.path() / "in", out = temporary.path() / "out";
        testsupport::writeFile(in, input);
        const std::string environment = withRuntime ? "XDG_RUNTIME_DIR='" + runtime.string() + "'" : "-u XDG_RUNTIME_DIR";
        // exec: the host is this process's own child, as it is the browser's.
        const int status = std::system(("exec env " + environment + " '" TOLVAR_CAPTURE_HOST
                                        "' chrome-extension://" + std::string(capture::chromiumExtensionId) + "/ <'" + in.string() +
                                        "' >'" + out.string() + "'").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        std::vector<json> answers;
        const int fd = open(out.c_str(), O_RDONLY | O_CLOEXEC);
        for (auto f = capture::readFrame(fd, capture::longestMessage); f.kind == capture::Frame::Kind::message;
             f = capture::readFrame(fd, capture::longestMessage)) {
            answers.push_back(json::parse(f.body, nullptr, false));
        }
        close(fd);
        return answers;
    }
};

TEST_F(CaptureHostTest, TheLatestGoodReportIsKeptForTheUserAlone) {
    EXPECT_EQ(run(report("https://example.org/a") + report("https://example.org/b")), (std::vector<json>{accepted, accepted}));
    const auto stored = state();
    EXPECT_EQ(stored["browser"], "chromium");
    EXPECT_EQ(stored["address"], "https://example.org/b");
    EXPECT_EQ(stored["focused"], 1700000000000.0);
    EXPECT_EQ(stored["pid"], getpid());  // the process that started the host
    struct stat info {};
    ASSERT_EQ(stat(stateFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_uid, geteuid());
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

// Each reason a message is refused is tested with the rules; here, a few through the host, which
// must keep the last good report and stay in step with the stream, up to a huge length prefix or a
// stream cut inside a frame, which end it cleanly.
TEST_F(CaptureHostTest, BadMessagesAndBadEndingsLeaveTheLastGoodReport) {
    const std::string evil = report("https://evil.example/").substr(4);
    const std::string attacks =
        frame("{\"browser\":\"chromium\",") +
        frame(R"({"browser":"../../x","address":"https://evil.example/","title":"t","focused":1})") + frame("") +
        frame(std::string(300'000, '[') + std::string(300'000, ']')) +
        frame(std::string(capture::longestMessage + 1, ' ') + evil,
              static_cast<std::uint32_t>(capture::longestMessage + 1 + evil.size()));
    for (const std::string& ending : {std::string(), report("https://example.org/next"),
                                      frame("{\"browser\":\"chromium\"", 0xfffffff0u), std::string("\x20\x00", 2)}) {
        SCOPED_TRACE(ending.size());
        const bool thenGood = ending.find("next") != std::string::npos;
        const auto answers = run(report("https://example.org/good") + attacks + ending);
        ASSERT_EQ(answers.size(), thenGood ? 7u : 6u);
        EXPECT_EQ(answers.front(), accepted);
        for (std::size_t i = 1; i < 6; ++i) {
            EXPECT_EQ(answers[i].value("accepted", true), false) << i;
            EXPECT_NE(answers[i].value("reason", ""), "") << i;
        }
        EXPECT_EQ(state()["address"], thenGood ? "https://example.org/next" : "https://example.org/good");
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    }
}

TEST_F(CaptureHostTest, NoReportIsStoredInAFolderOpenToOthersBehindALinkOrWithoutARuntimeFolder) {
    // A state file that is a link is replaced, not written through.
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);
    const fs::path victim = temporary.path() / "victim";
    testsupport::writeFile(victim, "keep me");
    fs::create_symlink(victim, stateFile);
    EXPECT_EQ(run(report("https://example.org/a")), std::vector<json>{accepted});
    EXPECT_EQ(testsupport::readFile(victim), "keep me");
    EXPECT_FALSE(fs::is_symlink(stateFile));
    EXPECT_EQ(state()["address"], "https://example.org/a");

    const fs::path elsewhere = temporary.path() / "elsewhere";
    const std::vector<std::pair<std::string, std::function<void()>>> cases{
        {"open to others", [&] {
             fs::create_directories(folder);
             fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read,
                             fs::perm_options::replace);
         }},
        {"a link", [&] {
             fs::create_directories(elsewhere);
             fs::permissions(elsewhere, fs::perms::owner_all, fs::perm_options::replace);
             fs::create_directory_symlink(elsewhere, folder);
         }},
        {"no runtime folder", [] {}},
    };
    for (const auto& [name, prepare] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(folder);
        prepare();
        const auto answers = run(report("https://example.org/a"), name != "no runtime folder");
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].value("accepted", true), false);
        EXPECT_FALSE(fs::exists(stateFile));
    }
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

// What the per-user route writes for a bundle: a host manifest per browser, an external-extension
// entry per Chromium-family browser naming the bundle's .crx and the manifest's version, and the
// Mozilla-signed add-on only when the bundle carries one.
TEST(CaptureHelpers, ABundlesFilesForOneUser) {
    testsupport::TemporaryFolder folder;
    const fs::path bundle = folder.path() / "Tolvar.app", home = folder.path() / "home", config = home / ".config";
    const fs::path extension = bundle / "share" / "browser-extension";
    const auto put = [](const fs::path& file, const std::string& bytes) {
        fs::create_directories(file.parent_path());
        testsupport::writeFile(file, bytes);
    };
    put(bundle / "libexec" / "tolvar-capture-host", "#!/bin/sh\n");
    fs::permissions(bundle / "libexec" / "tolvar-capture-host", fs::perms::owner_exec, fs::perm_options::add);
    put(extension / "unpacked" / "manifest.json", R"({"manifest_version": 3, "version": "2.5.1"})");
    EXPECT_FALSE(capture::helperFilesFor(bundle, home, config)) << "no .crx in the bundle";
    put(extension / "tolvar-capture.crx", "Cr24");

    // Which folder each browser reads is proven by the install test; here the entry's contents.
    const auto files = capture::helperFilesFor(bundle, home, config);
    ASSERT_TRUE(files);
    EXPECT_EQ(files->size(), 6u + 5u) << "a host manifest for each browser, an entry for each but Firefox";
    const std::string entryName = std::string(capture::chromiumExtensionId) + ".json";
    const fs::path chromiumEntry = config / "chromium" / "External Extensions" / entryName;
    const auto entry = std::find_if(files->begin(), files->end(), [&](const auto& file) { return file.file == chromiumEntry; });
    ASSERT_NE(entry, files->end());
    EXPECT_EQ(json::parse(entry->bytes),
              (json{{"external_crx", (extension / "tolvar-capture.crx").string()}, {"external_version", "2.5.1"}}));

    put(extension / "signed" / "capture@tolvar.app.xpi", "PK signed");
    const auto withSigned = capture::helperFilesFor(bundle, home, config);
    ASSERT_TRUE(withSigned);
    ASSERT_EQ(withSigned->size(), 12u);
    EXPECT_EQ(withSigned->back().file,
              home / ".mozilla/extensions/{ec8030f7-c20a-464f-9b0e-13a3a9e97384}/capture@tolvar.app.xpi");
    EXPECT_EQ(withSigned->back().bytes, "PK signed");

    // An update brings a newer extension: entries naming this bundle follow it, others stay.
    for (const auto& file : *withSigned) put(file.file, file.bytes);
    const fs::path otherCopys = config / "vivaldi" / "External Extensions" / entryName;
    put(otherCopys, capture::externalCrxEntry(folder.path() / "Other.app/tolvar-capture.crx", "1.0.0"));
    const fs::path removedByUser = config / "microsoft-edge" / "External Extensions" / entryName;
    fs::remove(removedByUser);
    put(extension / "unpacked" / "manifest.json", R"({"manifest_version": 3, "version": "2.6.0"})");
    capture::refreshBrowserHelpers(bundle, home, config);
    EXPECT_EQ(json::parse(testsupport::readFile(chromiumEntry))["external_version"], "2.6.0");
    EXPECT_EQ(json::parse(testsupport::readFile(otherCopys))["external_version"], "1.0.0");
    EXPECT_FALSE(fs::exists(removedByUser));

    fs::permissions(bundle / "libexec" / "tolvar-capture-host", fs::perms::all, fs::perm_options::remove);
    EXPECT_FALSE(capture::helperFilesFor(bundle, home, config)) << "no runnable host";
}

}  // namespace
