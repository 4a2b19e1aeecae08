#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a Tolvar.app is: its Info.json, the files it carries, and whether a folder is a complete one.
namespace bundle {

// The fields of Info.json that Tolvar reads; one that is missing or not text is "".
struct Info {
    std::string identifier;  // CFBundleIdentifier
    std::string version;     // CFBundleShortVersionString
    std::string executable;  // CFBundleExecutable, relative to the bundle
};

// Info.json's text read as a JSON object; nothing when it is not one.
std::optional<Info> parseInfo(std::string_view json);

// The Info.json of `bundle`; nothing when it is not a regular file (a link is not followed), is
// larger than 1 MB, or does not hold a JSON object.
std::optional<Info> readInfo(const std::filesystem::path& bundle);

// Paths inside a bundle. bin/tolvar is the executable a user starts; it hands over to the
// application, libexec/tolvar-app.
inline const std::filesystem::path executable = "bin/tolvar";
inline const std::filesystem::path application = "libexec/tolvar-app";
inline const std::filesystem::path toolsFolder = "libexec";
inline const std::filesystem::path iconTheme = "share/icons/hicolor";

// The icon files of the application, relative to a hicolor theme folder (in a bundle: iconTheme).
std::vector<std::filesystem::path> iconFiles();

// The metainfo and launcher entry a bundle carries.
std::filesystem::path metainfo();
std::filesystem::path launcherEntry();

// Why `bundle` is not a complete Tolvar.app, or nothing when it is one: its Info.json names the
// application's identifier, a version and bin/tolvar; bin/tolvar and libexec/tolvar-app are
// executable ELF files; the update tools, the capture host, the launcher entry, the metainfo and the
// icons are present. A build-tree bundle is unsigned; a signed one must also pass its own
// tolvar-codesign (--verify --deep --strict) and tolvar-assess.
std::optional<std::string> whyNotATolvarApp(const std::filesystem::path& bundle);

}  // namespace bundle
