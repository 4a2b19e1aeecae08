#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The user's persisted settings: a key file "tolvar/defaults.ini" under the XDG config folder.
// Values are texts; every write replaces the file atomically. Main thread only.
namespace platform {

// The settings file in use.
std::filesystem::path settingsFile();

// The stored text of `key`, or nothing when the key or the file is missing or unreadable.
std::optional<std::string> readSetting(const std::string& key);

// Stores `value` under `key`, keeping the other keys. Answers whether the file was written.
bool writeSetting(const std::string& key, const std::string& value);

}  // namespace platform
