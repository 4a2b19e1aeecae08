#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

#include "automation/E2E.h"
#include "platform/SnapshotSource.h"
#include "tests/support/AppProcess.h"

namespace {

namespace fs = std::filesystem;

using testsupport::readFile;

// The automation folder of this test process. E2E reads TOLVAR_E2E_DIR once, so every test of
// this program shares one folder and empties it first.
const fs::path& automationDir() {
    static const fs::path dir = [] {
        char pattern[] = "/tmp/tolvar-journal-XXXXXX";
        fs::path made = mkdtemp(pattern);
        setenv("TOLVAR_E2E_DIR", made.c_str(), 1);
        return made;
    }();
    return dir;
}

class FakeWindow : public platform::SnapshotSource {
public:
    explicit FakeWindow(std::optional<std::string> png) : png_(std::move(png)) {}
    std::optional<std::string> snapshotPNG() const override { return png_; }

private:
    std::optional<std::string> png_;
};

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& entry : fs::directory_iterator(automationDir())) fs::remove_all(entry.path());
    }
    std::vector<nlohmann::json> events() const { return testsupport::Journal(automationDir()).events(); }
};

TEST(JournalLine, IsCompactWithSortedKeysAndOverridesReservedFields) {
    nlohmann::json fields = {{"visible", false}, {"by", "save"}, {"seq", 99}, {"event", "other"}};
    EXPECT_EQ(E2E::detail::journalLine(fields, "closed", 4, std::nullopt),
              "{\"by\":\"save\",\"event\":\"closed\",\"seq\":4,\"visible\":false}\n");

    // A drawn picture's name replaces a caller's "snapshot"; without one, the caller's stays.
    EXPECT_EQ(E2E::detail::journalLine({{"snapshot", "mine"}}, "e", 12, "12-e.png"),
              "{\"event\":\"e\",\"seq\":12,\"snapshot\":\"12-e.png\"}\n");
    EXPECT_EQ(E2E::detail::journalLine({{"snapshot", "x"}}, "e", 1, std::nullopt),
              "{\"event\":\"e\",\"seq\":1,\"snapshot\":\"x\"}\n");
    // Text that is not UTF-8 cannot be written as JSON: the line is dropped.
    EXPECT_EQ(E2E::detail::journalLine({{"url", std::string("\xff\xfe")}}, "web-loaded", 2, std::nullopt),
              std::nullopt);
    EXPECT_EQ(E2E::detail::snapshotFileName(3, "save-result"), "3-save-result.png");
}

// A journal already there (an earlier run's) is appended to, never replaced.
TEST_F(JournalTest, ReportAppendsWithGrowingNumbers) {
    ASSERT_TRUE(E2E::enabled());
    const auto journal = automationDir() / "events.jsonl";
    { std::ofstream(journal) << "{\"event\":\"earlier\",\"seq\":1}\n"; }
    E2E::report("first", {{"url", "https://web.tolvar.app/app"}});
    E2E::report("second");
    const auto lines = events();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(readFile(journal).substr(0, 28), "{\"event\":\"earlier\",\"seq\":1}\n");
    EXPECT_EQ(lines[1]["event"], "first");
    EXPECT_EQ(lines[1]["url"], "https://web.tolvar.app/app");
    EXPECT_EQ(lines[2]["event"], "second");
    EXPECT_EQ(lines[2]["seq"].get<int64_t>(), lines[1]["seq"].get<int64_t>() + 1);
    // No temporary files are left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(automationDir()), fs::directory_iterator{}), 1);
}

TEST_F(JournalTest, SnapshotsAreNamedByNumberAndEvent) {
    FakeWindow drawn(std::string("\x89PNG fake bytes", 14));
    E2E::report("presented", {}, &drawn);
    FakeWindow unencodable(std::string{});
    E2E::report("save-result", {}, &unencodable);
    FakeWindow nothing(std::nullopt);
    E2E::report("closed", {}, &nothing);

    const auto lines = events();
    ASSERT_EQ(lines.size(), 3u);
    const std::string picture = lines[0]["snapshot"];
    EXPECT_EQ(picture, std::to_string(lines[0]["seq"].get<int64_t>()) + "-presented.png");
    EXPECT_EQ(readFile(automationDir() / picture), std::string("\x89PNG fake bytes", 14));
    // Drawn but not encodable: named all the same, with no file.
    const std::string missing = lines[1]["snapshot"];
    EXPECT_FALSE(fs::exists(automationDir() / missing));
    EXPECT_FALSE(lines[2].contains("snapshot"));
}

TEST_F(JournalTest, ALineThatDoesNotFitIsLeftOutWhole) {
    E2E::report("first");
    const auto journal = automationDir() / "events.jsonl";
    // A file size limit a few kilobytes past the journal's end stands in for a full disk.
    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &original), 0);
    rlimit tight = original;
    tight.rlim_cur = fs::file_size(journal) + 5000;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    E2E::report("too-big", {{"text", std::string(20000, 'x')}});
    setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, previousHandler);

    E2E::report("after");
    const auto lines = events();  // every line parses on its own
    ASSERT_EQ(lines.size(), 2u) << readFile(journal).size();
    EXPECT_EQ(lines[0]["event"], "first");
    EXPECT_EQ(lines[1]["event"], "after");
}

}  // namespace

// Sets the automation folder before any test touches E2E.
int main(int argc, char** argv) {
    automationDir();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::filesystem::remove_all(automationDir());
    return result;
}
