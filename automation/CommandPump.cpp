#include "automation/CommandPump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "automation/E2E.h"
#include "core/Io.h"
#include "platform/MainLoop.h"
#include "core/Text.h"

namespace E2E {
namespace {

constexpr double pollInterval = 0.2;
// Enough of what came before the read position to notice a file rewritten in place.
constexpr std::size_t tailKept = 256;

// Up to `count` bytes at `offset`; fewer only at the end of the file or on an error.
std::string readAt(int fd, off_t offset, std::size_t count) {
    std::string bytes(count, '\0');
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, bytes.data() + done, count - done, offset + off_t(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += std::size_t(got);
    }
    bytes.resize(done);
    return bytes;
}

void reportRefused(const std::string& line) { report("unknown-command", {{"line", line}}); }

}  // namespace

void startCommandPump(CommandRunner run) {
    if (!enabled()) return;
    auto pump = std::make_shared<detail::CommandPump>(*dir() / "cmd", std::move(run), reportRefused);
    static platform::Timer timer;  // runs for the life of the process
    timer = platform::repeatEvery(pollInterval, [pump] { pump->tick(); });
}

namespace detail {

CommandPump::CommandPump(std::filesystem::path file, CommandRunner run, CommandRunner refuse, PumpLimits limits)
    : file_(std::move(file)), run_(std::move(run)), refuse_(std::move(refuse)), limits_(limits) {}

void CommandPump::tick() {
    // A command that waits on the main loop (the clipboard, for one) must not let the next tick
    // start later lines before it has finished.
    if (running_) return;
    running_ = true;
    tickOnce();
    running_ = false;
}

void CommandPump::tickOnce() {
    // Non-blocking, so that a driver's named pipe cannot stall the main loop; only regular files count.
    const core::UniqueFd fd(::open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    if (info.st_dev != device_ || info.st_ino != inode_ || info.st_size < offset_ || !sameFileAsBefore(fd.get())) {
        startOver(info.st_dev, info.st_ino);
    }
    const std::size_t budget = std::min<std::size_t>(limits_.bytesPerTick, std::size_t(info.st_size - offset_));
    const std::string bytes = readAt(fd.get(), offset_, budget);
    std::size_t commandsLeft = limits_.commandsPerTick;
    const std::size_t taken = consume(bytes, commandsLeft);
    offset_ += off_t(taken);
    tail_ = (tail_ + bytes.substr(0, taken));
    if (tail_.size() > tailKept) tail_.erase(0, tail_.size() - tailKept);

    // A last line without its line feed is complete once the whole file has been read.
    const bool atEnd = taken == bytes.size() && offset_ >= info.st_size;
    if (atEnd && commandsLeft > 0 && !partial_.empty() && linesSeen_ + 1 > processed_) {
        processed_ = linesSeen_ + 1;
        offer(partial_, partialOverlong_);
    }
}

bool CommandPump::sameFileAsBefore(int fd) {
    if (tail_.empty()) return true;
    return readAt(fd, offset_ - off_t(tail_.size()), tail_.size()) == tail_;
}

void CommandPump::startOver(dev_t device, ino_t inode) {
    device_ = device;
    inode_ = inode;
    offset_ = 0;
    tail_.clear();
    linesSeen_ = 0;
    partial_.clear();
    partialOverlong_ = false;
}

std::size_t CommandPump::consume(std::string_view bytes, std::size_t& commandsLeft) {
    std::size_t taken = 0;
    while (taken < bytes.size() && commandsLeft > 0) {
        const auto end = bytes.find('\n', taken);
        const auto piece = bytes.substr(taken, end == std::string_view::npos ? std::string_view::npos : end - taken);
        const std::size_t room = limits_.longestLine + 1 - std::min(partial_.size(), limits_.longestLine + 1);
        partial_.append(piece.substr(0, room));
        partialOverlong_ = partialOverlong_ || piece.size() > room || partial_.size() > limits_.longestLine;
        if (end == std::string_view::npos) return bytes.size();
        taken = end + 1;
        if (partial_.empty()) continue;
        if (linesSeen_ + 1 > processed_) --commandsLeft;
        lineComplete();
    }
    return taken;
}

void CommandPump::lineComplete() {
    ++linesSeen_;
    const std::string line = std::move(partial_);
    const bool overlong = partialOverlong_;
    partial_.clear();
    partialOverlong_ = false;
    if (linesSeen_ <= processed_) return;
    processed_ = linesSeen_;
    offer(line, overlong);
}

void CommandPump::offer(const std::string& line, bool overlong) {
    if (!overlong && core::isValidUTF8(line)) {
        run_(line);
        return;
    }
    refuse_(core::leadingCharacters(core::validUTF8(line), longestReportedLine));
}

}  // namespace detail
}  // namespace E2E
