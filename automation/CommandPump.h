#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

// The automation command file: a driver appends lines to "cmd" in the automation folder and the
// application runs each new line once, in order.
namespace E2E {

using CommandRunner = std::function<void(const std::string& line)>;

// Reads the command file every 0.2 seconds for the life of the process. Does nothing when
// automation is off.
void startCommandPump(CommandRunner run);

// The longest line text an event carries, in characters.
inline constexpr std::size_t longestReportedLine = 2000;

namespace detail {

// The work one tick may do, so that a huge command file cannot hold up the main loop: the rest is
// read in the ticks that follow.
struct PumpLimits {
    std::size_t bytesPerTick = 1 << 20;
    std::size_t commandsPerTick = 100;
    // A longer line is not run but refused.
    std::size_t longestLine = 1 << 20;
};

// The longest line text an event carries, in characters.
inline constexpr std::size_t longestReportedLine = 2000;

// Runs the lines of `file` that have not run yet. Lines end at bare line feeds; blank lines do not
// count. The counter goes up before a line runs, so a command is never run twice, also when the
// file is later shortened or replaced: a replaced file is read again from its start, and only its
// lines past the counter run.
//
// Only what was appended since the last tick is read. A line that is not UTF-8 or is longer than
// the limit counts as run but goes to `refuse` instead, with its text made valid and cut.
class CommandPump {
public:
    CommandPump(std::filesystem::path file, CommandRunner run, CommandRunner refuse, PumpLimits limits = {});
    void tick();
    std::int64_t processed() const { return processed_; }

private:
    void tickOnce();
    bool sameFileAsBefore(int fd);
    void startOver(dev_t device, ino_t inode);
    // Feeds bytes read at the current offset; answers how many were taken.
    std::size_t consume(std::string_view bytes, std::size_t& commandsLeft);
    void lineComplete();
    void offer(const std::string& line, bool overlong);

    std::filesystem::path file_;
    CommandRunner run_;
    CommandRunner refuse_;
    PumpLimits limits_;
    std::int64_t processed_ = 0;
    bool running_ = false;

    // The file being followed and how far it has been read.
    dev_t device_ = 0;
    ino_t inode_ = 0;
    off_t offset_ = 0;
    std::string tail_;         // the last bytes before offset_, to notice a file rewritten in place
    std::int64_t linesSeen_ = 0;  // complete non-empty lines of this file
    std::string partial_;      // the unfinished last line, at most longestLine + 1 bytes kept
    bool partialOverlong_ = false;
};

}  // namespace detail
}  // namespace E2E
