#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace core {

enum class Flush { no, toDisk };

// Replaces `file` with `bytes` in one rename, so a reader never sees half a file: the bytes go to a
// new private file beside it, which gets `mode` and is renamed over the old one. With
// Flush::toDisk the new file reaches the disk before the rename. False when anything failed; the
// old file is then untouched and no temporary file is left.
bool replaceFile(const std::filesystem::path& file, std::string_view bytes, mode_t mode, Flush flush);

// Creates `file` holding `bytes`, complete from the moment it appears (written beside it, then
// linked into place). Fails, leaving the existing file alone, when `file` already exists.
bool createFile(const std::filesystem::path& file, std::string_view bytes, mode_t mode);

// Whether `file` is a regular file holding exactly `bytes` with permission bits `mode`, so writing
// it again would change nothing.
bool fileHolds(const std::filesystem::path& file, std::string_view bytes, mode_t mode);

// Appends `bytes` to the existing `file` whole or not at all: when only part of them could be
// written (a full disk, a file size limit), the file is cut back to its former end. False when
// nothing was appended.
bool appendWhole(const std::filesystem::path& file, std::string_view bytes);

}  // namespace core
