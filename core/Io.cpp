#include "core/Io.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace core {
namespace {

// Hands `bytes` to `put` piece by piece until all are taken; `put` answers what write() would.
template <typename Put>
bool putAll(std::string_view bytes, Put put) {
    while (!bytes.empty()) {
        const ssize_t taken = put(bytes);
        if (taken < 0 && errno == EINTR) continue;
        if (taken <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(taken));
    }
    return true;
}

}  // namespace

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool UniqueFd::close() {
    return ::close(release()) == 0;
}

std::optional<std::size_t> readAll(int fd, char* into, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, into + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool writeAll(int fd, std::string_view bytes) {
    return putAll(bytes, [fd](std::string_view rest) { return ::write(fd, rest.data(), rest.size()); });
}

bool sendAll(int socket, std::string_view bytes) {
    return putAll(bytes,
                  [socket](std::string_view rest) { return ::send(socket, rest.data(), rest.size(), MSG_NOSIGNAL); });
}

}  // namespace core
