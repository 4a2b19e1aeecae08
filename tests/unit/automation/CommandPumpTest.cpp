#include <gtest/gtest.h>

#include <fstream>

#include "automation/CommandPump.h"
#include "tests/support/AppProcess.h"

namespace {

using E2E::detail::CommandPump;
using E2E::detail::commandLines;
using Lines = std::vector<std::string>;

TEST(CommandLines, SplitOnlyAtBareLineFeeds) {
    EXPECT_EQ(commandLines(""), Lines{});
    EXPECT_EQ(commandLines("\n\n"), Lines{});
    EXPECT_EQ(commandLines("present\ntype news\n"), (Lines{"present", "type news"}));
    EXPECT_EQ(commandLines("\npresent\n\n\ntype  a"), (Lines{"present", "type  a"}));  // blank lines do not count
    EXPECT_EQ(commandLines("present\r\ntype x\r\n"), (Lines{"present\r", "type x\r"}));
    EXPECT_EQ(commandLines("present\rtype x"), (Lines{"present\rtype x"}));  // CR alone never separates
    EXPECT_EQ(commandLines(" js  return 1 "), (Lines{" js  return 1 "}));    // used exactly as read
    EXPECT_EQ(commandLines("type é✓\n"), (Lines{"type é✓"}));
    EXPECT_EQ(commandLines("present\n\xff\n"), std::nullopt);
    EXPECT_EQ(commandLines("type \xc3"), std::nullopt);  // a cut-off character
}

class CommandPumpTest : public ::testing::Test {
protected:
    testsupport::TemporaryFolder folder;
    std::filesystem::path file = folder.path() / "cmd";
    Lines ran;
    CommandPump pump{file, [this](const std::string& line) { ran.push_back(line); }};

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

TEST_F(CommandPumpTest, ShorterReplacedOrUnreadableFilesRerunNothing) {
    write("a\nb\nc\n");
    pump.tick();
    write("\xff\xfe not text\nd\ne\nf\n");
    pump.tick();
    EXPECT_EQ(ran, (Lines{"a", "b", "c"}));
    write("x\n");  // replaced by a shorter file
    pump.tick();
    std::filesystem::remove(file);
    pump.tick();
    EXPECT_EQ(ran.size(), 3u);
    write("x\ny\nz\nfourth\n");  // only lines past the counter run
    pump.tick();
    EXPECT_EQ(ran, (Lines{"a", "b", "c", "fourth"}));
}

TEST_F(CommandPumpTest, ACommandThatTicksAgainDoesNotRunLaterLinesEarly) {
    Lines order;
    CommandPump* self = nullptr;
    CommandPump nested(file, [&](const std::string& line) {
        order.push_back("start " + line);
        self->tick();  // as a nested main loop would
        order.push_back("end " + line);
    });
    self = &nested;
    write("one\ntwo\n");
    nested.tick();
    EXPECT_EQ(order, (Lines{"start one", "end one", "start two", "end two"}));
}

}  // namespace
