#include "bundle/Swap.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

namespace bundle {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view stagedInfix = ".tolvar-staged-";
constexpr std::string_view previousInfix = ".tolvar-previous-";

core::UniqueFd openFolder(const fs::path& path) {
    return core::UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

void syncPath(const fs::path& path, bool directory) {
    const core::UniqueFd fd(
        ::open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC));
    if (fd.valid()) ::fsync(fd.get());
}

// Copies what is left to read from `in` into `out`; false, with errno set, when that failed.
bool copyContents(int in, int out) {
    char buffer[65536];
    while (true) {
        const auto got = core::readAll(in, buffer, sizeof buffer);
        if (!got) return false;
        if (*got == 0) return true;
        if (!core::writeAll(out, std::string_view(buffer, *got))) return false;
    }
}

// Flushes every file and folder of a tree to the disk, the folders after what they hold.
void syncTree(const fs::path& root) {
    std::error_code error;
    std::vector<fs::path> folders{root};
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        const auto status = it->symlink_status(error);
        if (error) break;
        if (fs::is_directory(status)) folders.push_back(it->path());
        else if (fs::is_regular_file(status)) syncPath(it->path(), false);
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) syncPath(*it, true);
}

// Gives up a swap: `staged` goes, and the reason (errno's, read before the clean-up) is answered.
std::string abandon(const fs::path& staged) {
    const std::string reason = std::strerror(errno);
    std::error_code ignored;
    fs::remove_all(staged, ignored);
    return reason;
}

}  // namespace

std::string uniqueName() {
    std::random_device source;
    unsigned char bytes[16];
    for (auto& byte : bytes) byte = static_cast<unsigned char>(source() & 0xFF);
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

LockedFolder::LockedFolder(const fs::path& path) : folder_(openFolder(path)) {
    if (folder_.valid()) ::flock(folder_.get(), LOCK_EX);
}

bool isLockedByAnother(const fs::path& path) {
    const auto folder = openFolder(path);
    return folder.valid() && ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

bool copyTree(const fs::path& from, const fs::path& to, std::string& failure) {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0) {
        failure = std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        if (::mkdir(to.c_str(), 0700) != 0) {
            failure = std::strerror(errno);
            return false;
        }
        std::error_code error;
        for (fs::directory_iterator it(from, error), end; !error && it != end; it.increment(error)) {
            if (!copyTree(it->path(), to / it->path().filename(), failure)) return false;
        }
        if (error) {
            failure = error.message();
            return false;
        }
        if (::chmod(to.c_str(), info.st_mode & 07777) != 0) {
            failure = std::strerror(errno);
            return false;
        }
        return true;
    }
    if (S_ISLNK(info.st_mode)) {
        std::error_code error;
        const auto target = fs::read_symlink(from, error);
        if (error || ::symlink(target.c_str(), to.c_str()) != 0) {
            failure = error ? error.message() : std::strerror(errno);
            return false;
        }
        return true;
    }
    if (!S_ISREG(info.st_mode)) {
        failure = "special file in the update: " + from.filename().string();
        return false;
    }
    const core::UniqueFd in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    const core::UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    bool ok = in.valid() && out.valid() && copyContents(in.get(), out.get()) &&
              ::fchmod(out.get(), info.st_mode & 07777) == 0;
    if (!ok) failure = std::strerror(errno);
    return ok;
}

fs::path stagedSibling(const fs::path& installed) {
    return installed.parent_path() / ("." + installed.filename().string() + std::string(stagedInfix) + uniqueName());
}

std::optional<std::string> commitStaged(const fs::path& staged, const fs::path& installed, bool exchangeSupported,
                                        const std::function<void(SwapStage)>& atStage) {
    const fs::path parent = installed.parent_path();
    std::error_code ignored;
    syncTree(staged);
    syncPath(parent, true);
    if (atStage) atStage(SwapStage::staged);

    struct stat existing {};
    if (::lstat(installed.c_str(), &existing) != 0 && errno == ENOENT) {
        // Nothing installed yet: the staged bundle only takes the free name.
        if (::rename(staged.c_str(), installed.c_str()) != 0) return abandon(staged);
        syncPath(parent, true);
        return std::nullopt;
    }
    if (exchangeSupported) {
        if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, installed.c_str(), RENAME_EXCHANGE) == 0) {
            syncPath(parent, true);
            fs::remove_all(staged, ignored);  // the old bundle, now under the sibling name
            syncPath(parent, true);
            return std::nullopt;
        }
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return abandon(staged);
    }
    // No exchange on this file system: two renames. A start that finds the install path empty
    // finishes the swap from the staged sibling (see finishInterruptedSwap).
    const std::string stagedName = staged.filename().string();
    const fs::path previous =
        parent / ("." + installed.filename().string() + std::string(previousInfix) +
                  stagedName.substr(stagedName.find(stagedInfix) + stagedInfix.size()));
    if (::rename(installed.c_str(), previous.c_str()) != 0) return abandon(staged);
    syncPath(parent, true);
    if (atStage) atStage(SwapStage::betweenRenames);
    if (::rename(staged.c_str(), installed.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::rename(previous.c_str(), installed.c_str());
        fs::remove_all(staged, ignored);
        syncPath(parent, true);
        return reason;
    }
    syncPath(parent, true);
    fs::remove_all(previous, ignored);
    syncPath(parent, true);
    return std::nullopt;
}

bool isSwapSibling(const std::string& installedName, const std::string& name) {
    const std::string base = "." + installedName;
    return name.starts_with(base + std::string(stagedInfix)) || name.starts_with(base + std::string(previousInfix));
}

void finishInterruptedSwap(const fs::path& installed) {
    const fs::path parent = installed.parent_path();
    const std::string name = installed.filename().string();
    std::error_code error;
    std::vector<fs::path> staged, previous;
    for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
        const std::string entry = it->path().filename().string();
        if (!isSwapSibling(name, entry) || isLockedByAnother(it->path())) continue;
        (entry.find(stagedInfix) != std::string::npos ? staged : previous).push_back(it->path());
    }
    struct stat info {};
    if (::lstat(installed.c_str(), &info) != 0) {
        // Interrupted between the two renames: the staged bundle was complete and flushed before the
        // first rename, so it finishes the swap; without one the previous bundle goes back.
        for (auto* list : {&staged, &previous}) {
            if (!list->empty() && ::rename(list->front().c_str(), installed.c_str()) == 0) {
                list->erase(list->begin());
                break;
            }
        }
        syncPath(parent, true);
    }
    for (const auto* list : {&staged, &previous}) {
        for (const auto& leftover : *list) fs::remove_all(leftover, error);
    }
}

}  // namespace bundle
