// Native-messaging frames read from a stream, and the extension's messages they carry.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "capture/CaptureRules.h"
#include "capture/NativeMessaging.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    capture::reportFromMessage(std::string_view(reinterpret_cast<const char*>(data), size));
    const int fd = ::memfd_create("frames", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size) || ::lseek(fd, 0, SEEK_SET) != 0) std::abort();
    for (int frames = 0; frames < 64; ++frames) {
        const auto frame = capture::readFrame(fd, 256);
        if (frame.kind == capture::Frame::Kind::message) {
            if (frame.body.size() > 256) std::abort();
            capture::reportFromMessage(frame.body);
        } else if (frame.kind != capture::Frame::Kind::oversized) {
            break;
        }
    }
    ::close(fd);
    return 0;
}
