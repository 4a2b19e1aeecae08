#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Where downloads and uploads go when automation answers them instead of a person.
namespace Downloads {

// The file name the web engine suggested, reduced to one plain name: everything up to the last
// "/" is dropped (a trailing "/" first), so no folder part, "..", or absolute path survives, and a
// name longer than a file system allows is shortened at a character boundary, its extension kept.
std::string plainFileName(const std::string& suggestedFilename);

// The automation destination of a download: "download-" + the suggested name, always a file
// directly inside `automationDir`.
std::filesystem::path automationDestination(const std::filesystem::path& automationDir,
                                            const std::string& suggestedFilename);

// The file every file input receives in automation mode: the value of TOLVAR_E2E_UPLOAD as a path,
// a relative one taken against `currentDirectory`.
std::filesystem::path automationUpload(const std::string& uploadVariable,
                                       const std::filesystem::path& currentDirectory);

// The last component of a path as the journal names it: trailing slashes ignored, "/" stays "/".
std::string lastPathComponent(const std::string& path);

}  // namespace Downloads
