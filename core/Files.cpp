#include "core/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "core/Io.h"

namespace core {
namespace {

// Writes `bytes` to a new private file beside `file`; answers its path, or "" when that failed.
std::string writeTemporarySibling(const std::filesystem::path& file, std::string_view bytes, mode_t mode,
                                  Flush flush) {
    std::string temporary = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) return {};
    bool ok = ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), bytes);
    if (ok && flush == Flush::toDisk) ok = ::fsync(fd.get()) == 0;
    ok = fd.close() && ok;
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
    UniqueFd fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid()) return false;
    struct stat before {};
    bool ok = ::fstat(fd.get(), &before) == 0 && S_ISREG(before.st_mode);
    if (ok && !writeAll(fd.get(), bytes)) {
        ok = false;
        // Half a record would spoil the one after it; the failed write leaves no trace.
        if (::ftruncate(fd.get(), before.st_size) != 0) {
            // Nothing more can be done: the file keeps what could not be removed.
        }
    }
    ok = fd.close() && ok;
    return ok;
}

}  // namespace core
