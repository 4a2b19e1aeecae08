#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The framing of native messaging: each message is a 32-bit length in the machine's byte order
// followed by that many bytes of UTF-8 JSON.
namespace capture {

struct Frame {
    enum class Kind {
        message,    // `body` holds the message
        oversized,  // the length exceeded the limit; the body was read and thrown away
        end,        // the stream ended cleanly before a new frame
        truncated,  // the stream ended inside a frame, or could not be read
    };
    Kind kind = Kind::end;
    std::string body;
    std::uint32_t length = 0;
};

// Reads one frame from `fd`. A body longer than `longest` is skipped in small pieces, so a huge
// length costs no memory and the stream stays in step with the next frame.
Frame readFrame(int fd, std::size_t longest);

// Writes one frame; false when the length does not fit or the peer is gone.
bool writeFrame(int fd, std::string_view body);

}  // namespace capture
