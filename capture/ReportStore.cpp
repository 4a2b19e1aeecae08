#include "capture/ReportStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "core/Files.h"
#include "core/Io.h"

namespace capture {
namespace {

namespace fs = std::filesystem;

bool isPrivateTo(const struct stat& info, mode_t kind) {
    return (info.st_mode & S_IFMT) == kind && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

// The folder, made if missing; false when it exists but is not a private folder of this user.
bool ensurePrivateFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && isPrivateTo(info, S_IFDIR);
}

}  // namespace

std::optional<ReportStore> ReportStore::forRuntimeDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') return std::nullopt;
    return ReportStore(fs::path(runtime) / "tolvar-capture");
}

fs::path ReportStore::fileFor(std::string_view browserKey) const {
    return folder_ / (std::string(browserKey) + ".json");
}

bool ReportStore::write(const Report& report) const {
    // Only keys of the browser table name files, so a report can never pick its own path.
    if (core::browserForKey(report.browser) == nullptr || !ensurePrivateFolder(folder_)) return false;
    return core::replaceFile(fileFor(report.browser), encodeStoredReport(report), 0600, core::Flush::toDisk);
}

std::optional<Report> ReportStore::read(std::string_view browserKey) const {
    if (core::browserForKey(browserKey) == nullptr) return std::nullopt;
    struct stat info {};
    if (::lstat(folder_.c_str(), &info) != 0 || !isPrivateTo(info, S_IFDIR)) return std::nullopt;
    const int fd = ::open(fileFor(browserKey).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::string text;
    if (::fstat(fd, &info) == 0 && isPrivateTo(info, S_IFREG) &&
        info.st_size <= static_cast<off_t>(2 * longestMessage)) {
        text.resize(static_cast<std::size_t>(info.st_size));
        text.resize(core::readAll(fd, text.data(), text.size()).value_or(0));
    }
    ::close(fd);
    auto report = decodeStoredReport(text);
    if (!report || report->browser != browserKey) return std::nullopt;
    return report;
}

}  // namespace capture
