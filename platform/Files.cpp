#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace platform {
namespace {

bool writeAll(int fd, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Writes `bytes` to a new private file beside `file`; answers its path, or "" when that failed.
std::string writeTemporarySibling(const std::filesystem::path& file, std::string_view bytes, mode_t mode,
                                  Flush flush) {
    std::string temporary = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return {};
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes);
    if (ok && flush == Flush::toDisk) ok = ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) return temporary;
    ::unlink(temporary.c_str());
    return {};
}

}  // namespace

bool replaceFile(const std::filesystem::path& file, std::string_view bytes, mode_t mode, Flush flush) {
    const std::string temporary = writeTemporarySibling(file, bytes, mode, flush);
    if (temporary.empty()) return false;
    if (::rename(temporary.c_str(), file.c_str()) == 0) return true;
    ::unlink(temporary.c_str());
    return false;
}

bool createFile(const std::filesystem::path& file, std::string_view bytes, mode_t mode) {
    const std::string temporary = writeTemporarySibling(file, bytes, mode, Flush::no);
    if (temporary.empty()) return false;
    // link() refuses to replace: a file that appeared meanwhile is left as it is.
    const bool linked = ::link(temporary.c_str(), file.c_str()) == 0;
    ::unlink(temporary.c_str());
    return linked;
}

bool fileHolds(const std::filesystem::path& file, std::string_view bytes, mode_t mode) {
    struct stat status {};
    if (::lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || (status.st_mode & 07777) != mode ||
        static_cast<std::size_t>(status.st_size) != bytes.size()) {
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    const std::string held((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return held == bytes;
}

bool appendWhole(const std::filesystem::path& file, std::string_view bytes) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat before {};
    bool ok = ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
    if (ok && !writeAll(fd, bytes)) {
        ok = false;
        // Half a record would spoil the one after it; the failed write leaves no trace.
        if (::ftruncate(fd, before.st_size) != 0) {
            // Nothing more can be done: the file keeps what could not be removed.
        }
    }
    ok = ::close(fd) == 0 && ok;
    return ok;
}

}  // namespace platform
