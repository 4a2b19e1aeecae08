#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

// File descriptors: one owner for each, and reads and writes that go on until they are whole.
namespace core {

// Owns an open file descriptor and closes it when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1);
    // Closes it now; false when close() reported an error, which after writing can mean lost data.
    bool close();

private:
    int fd_ = -1;
};

// Reads into `into` until `size` bytes have arrived or the stream ends, going on after short reads
// and interruptions. Answers how many bytes arrived, or nothing when a read failed (errno says why).
std::optional<std::size_t> readAll(int fd, char* into, std::size_t size);

// Writes all of `bytes`, going on after short writes and interruptions. False when a write failed
// (errno says why).
bool writeAll(int fd, std::string_view bytes);

// writeAll for a socket: a peer that has gone answers false (EPIPE) instead of a SIGPIPE.
bool sendAll(int socket, std::string_view bytes);

}  // namespace core
