#pragma once

#include <filesystem>
#include <optional>

namespace platform {

// The "Tolvar.app" folder that holds the running executable: the nearest ancestor of the
// executable whose name ends with ".app". Nothing when the program runs outside a bundle.
std::optional<std::filesystem::path> runningBundleDir();

// The running executable itself.
std::optional<std::filesystem::path> runningExecutable();

}  // namespace platform
