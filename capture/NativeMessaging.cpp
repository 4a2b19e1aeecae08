#include "capture/NativeMessaging.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

namespace capture {
namespace {

// Reads up to `size` bytes; answers how many were read before the end of the stream, or -1.
long readFully(int fd, char* into, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, into + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long>(done);
}

bool writeFully(int fd, const char* from, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, from, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        from += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace

Frame readFrame(int fd, std::size_t longest) {
    Frame frame;
    char prefix[4];
    const long got = readFully(fd, prefix, sizeof prefix);
    if (got == 0) return frame;
    if (got != static_cast<long>(sizeof prefix)) {
        frame.kind = Frame::Kind::truncated;
        return frame;
    }
    std::memcpy(&frame.length, prefix, sizeof prefix);
    if (frame.length > longest) {
        std::array<char, 64 * 1024> scratch;
        std::size_t left = frame.length;
        while (left > 0) {
            const std::size_t piece = std::min(left, scratch.size());
            if (readFully(fd, scratch.data(), piece) != static_cast<long>(piece)) {
                frame.kind = Frame::Kind::truncated;
                return frame;
            }
            left -= piece;
        }
        frame.kind = Frame::Kind::oversized;
        return frame;
    }
    frame.body.resize(frame.length);
    if (readFully(fd, frame.body.data(), frame.length) != static_cast<long>(frame.length)) {
        frame.body.clear();
        frame.kind = Frame::Kind::truncated;
        return frame;
    }
    frame.kind = Frame::Kind::message;
    return frame;
}

bool writeFrame(int fd, std::string_view body) {
    if (body.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    const auto length = static_cast<std::uint32_t>(body.size());
    char prefix[4];
    std::memcpy(prefix, &length, sizeof prefix);
    return writeFully(fd, prefix, sizeof prefix) && writeFully(fd, body.data(), body.size());
}

}  // namespace capture
