#include <gtest/gtest.h>

#include <fstream>

#include "automation/CommandPump.h"
#include "tests/support/AppProcess.h"

namespace {

using E2E::detail::CommandPump;
using E2E::detail::PumpLimits;
using Lines = std::vector<std::string>;

class CommandPumpTest : public ::testing::Test {
protected:
    testsupport::TemporaryFolder folder;
    std::filesystem::path file = folder.path() / "cmd";
    Lines ran;
    Lines refused;
    CommandPump pump{file, [this](const std::string& line) { ran.push_back(line); },
                     [this](const std::string& line) { refused.push_back(line); }};

    void write(const std::string& text, std::ios::openmode mode = std::ios::trunc) {
        std::ofstream(file, std::ios::binary | mode) << text;
    }
};

TEST_F(CommandPumpTest, RunsEachLineOnceInOrder) {
    pump.tick();  // no file yet
    EXPECT_TRUE(ran.empty());

    write("present\ntype ne");
    pump.tick();
    EXPECT_EQ(ran, (Lines{"present", "type ne"}));  // a last line without line feed is complete
    write("ws\njs return 1\n", std::ios::app);  // the driver finishes its line: not run again
    pump.tick();
    EXPECT_EQ(ran, (Lines{"present", "type ne", "js return 1"}));
    EXPECT_EQ(pump.processed(), 3);

    pump.tick();
    EXPECT_EQ(ran.size(), 3u);
}

TEST_F(CommandPumpTest, SplitsOnlyAtBareLineFeedsAndSkipsBlankLines) {
    write("\npresent\n\n\ntype  a\n js  return 1 \ntype é✓\nenter\r\nesc\rx\n\n");
    pump.tick();
    EXPECT_EQ(ran, (Lines{"present", "type  a", " js  return 1 ", "type é✓", "enter\r", "esc\rx"}));
    EXPECT_EQ(pump.processed(), 6);
}

TEST_F(CommandPumpTest, ShorterReplacedOrMissingFilesRerunNothing) {
    write("a\nb\nc\n");
    pump.tick();
    write("x\n");  // replaced by a shorter file
    pump.tick();
    std::filesystem::remove(file);
    pump.tick();
    EXPECT_EQ(ran.size(), 3u);
    write("x\ny\nz\nfourth\n");  // only lines past the counter run, also in a longer rewrite in place
    pump.tick();
    write("fifth\n", std::ios::app);
    pump.tick();
    std::filesystem::remove(file);  // a new file takes the place of the old one
    write("1\n2\n3\n4\n5\nsixth");
    pump.tick();
    EXPECT_EQ(ran, (Lines{"a", "b", "c", "fourth", "fifth", "sixth"}));
}

TEST_F(CommandPumpTest, ALineThatIsNotUTF8IsSkippedAloneAndReported) {
    write("present\n\xff\xfe not text\ntype \xc3\n");
    pump.tick();
    write("after\n", std::ios::app);
    pump.tick();
    EXPECT_EQ(ran, (Lines{"present", "after"}));
    EXPECT_EQ(refused, (Lines{"\uFFFD\uFFFD not text", "type \uFFFD"}));
    EXPECT_EQ(pump.processed(), 4);
}

TEST_F(CommandPumpTest, BigFilesAreReadInBoundedSlicesAndLongLinesRefused) {
    const PumpLimits limits{.bytesPerTick = 64 * 1024, .commandsPerTick = 10, .longestLine = 16 * 1024};
    CommandPump bounded(file, [this](const std::string& line) { ran.push_back(line); },
                        [this](const std::string& line) { refused.push_back(line); }, limits);
    std::string text(200 * 1024, '\n');                  // blank lines: more than three ticks' reading
    text += "js " + std::string(40 * 1024, 'x') + "\n";  // one line over the limit
    for (int i = 0; i < 25; ++i) text += "c" + std::to_string(i) + "\n";
    write(text);
    bounded.tick();
    EXPECT_TRUE(ran.empty() && refused.empty());
    int ticks = 1;
    for (; ticks < 50 && ran.size() < 25; ++ticks) bounded.tick();
    ASSERT_EQ(ran.size(), 25u) << "the end of the file was never reached";
    EXPECT_EQ(ran.front(), "c0");
    EXPECT_EQ(ran.back(), "c24");
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0], "js " + std::string(E2E::longestReportedLine - 3, 'x'));
    EXPECT_EQ(bounded.processed(), 26);
    EXPECT_GE(ticks, 6);  // at most ten commands and 64 KiB per tick
}

TEST_F(CommandPumpTest, ACommandThatTicksAgainDoesNotRunLaterLinesEarly) {
    Lines order;
    CommandPump* self = nullptr;
    CommandPump nested(
        file,
        [&](const std::string& line) {
            order.push_back("start " + line);
            self->tick();  // as a nested main loop would
            order.push_back("end " + line);
        },
        [](const std::string&) {});
    self = &nested;
    write("one\ntwo\n");
    nested.tick();
    EXPECT_EQ(order, (Lines{"start one", "end one", "start two", "end two"}));
}

}  // namespace
