#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace install {

// Why `bundle` is not a complete Tolvar.app, or nothing when it is one: its Info.json names the
// application's identifier, a version and bin/tolvar; bin/tolvar and the application it starts,
// libexec/tolvar-app, are executable ELF files; the
// update tools, the capture host, the launcher entry, the metainfo and the icons are present. A
// build-tree bundle is unsigned; a signed one must also pass its own tolvar-codesign
// (--verify --deep --strict) and tolvar-assess.
std::optional<std::string> whyNotATolvarApp(const std::filesystem::path& bundle);

// The bundle's version from its Info.json; "" when it cannot be read.
std::string bundleVersion(const std::filesystem::path& bundle);

}  // namespace install
