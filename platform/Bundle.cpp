#include "platform/Bundle.h"

#include <system_error>

namespace platform {

std::optional<std::filesystem::path> runningExecutable() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    return exe;
}

std::optional<std::filesystem::path> runningBundleDir() {
    auto exe = runningExecutable();
    if (!exe) return std::nullopt;
    for (auto dir = exe->parent_path(); dir.has_relative_path(); dir = dir.parent_path()) {
        const auto name = dir.filename().string();
        if (name.size() > 4 && name.ends_with(".app")) return dir;
    }
    return std::nullopt;
}

}  // namespace platform
