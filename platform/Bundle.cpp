#include "platform/Bundle.h"

#include <system_error>

namespace platform {

std::optional<std::filesystem::path> runningExecutable() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    return exe;
}

namespace {

std::optional<std::filesystem::path> findRunningBundleDir() {
    auto exe = runningExecutable();
    if (!exe) return std::nullopt;
    for (auto dir = exe->parent_path(); dir.has_relative_path(); dir = dir.parent_path()) {
        const auto name = dir.filename().string();
        if (name.size() > 4 && name.ends_with(".app")) return dir;
    }
    return std::nullopt;
}

}  // namespace

// Found once: after an update has been swapped into place the executable's old files live on only
// under another name, and the bundle is still the one at the original place.
std::optional<std::filesystem::path> runningBundleDir() {
    static const auto bundle = findRunningBundleDir();
    return bundle;
}

}  // namespace platform
