#include "capture/NativeMessaging.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "core/Io.h"

namespace capture {

Frame readFrame(int fd, std::size_t longest) {
    Frame frame;
    char prefix[4];
    const auto got = core::readAll(fd, prefix, sizeof prefix);
    if (got == 0u) return frame;
    if (got != sizeof prefix) {
        frame.kind = Frame::Kind::truncated;
        return frame;
    }
    std::memcpy(&frame.length, prefix, sizeof prefix);
    if (frame.length > longest) {
        std::array<char, 64 * 1024> scratch;
        std::size_t left = frame.length;
        while (left > 0) {
            const std::size_t piece = std::min(left, scratch.size());
            if (core::readAll(fd, scratch.data(), piece) != piece) {
                frame.kind = Frame::Kind::truncated;
                return frame;
            }
            left -= piece;
        }
        frame.kind = Frame::Kind::oversized;
        return frame;
    }
    frame.body.resize(frame.length);
    if (core::readAll(fd, frame.body.data(), frame.length) != frame.length) {
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
    return core::writeAll(fd, std::string_view(prefix, sizeof prefix)) && core::writeAll(fd, body);
}

}  // namespace capture
