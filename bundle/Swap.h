#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/Io.h"

// Putting one bundle in the place of another so that the place always holds exactly one complete
// bundle: the new one is copied or moved next to the installed one under a hidden name (staged),
// checked there, flushed, and exchanged with it in one rename. A process killed half way leaves
// hidden siblings that the next start sorts out.
namespace bundle {

// A random (version 4) UUID in its upper-case textual form: a name no other attempt uses.
std::string uniqueName();

// A folder locked for as long as this object lives: another process's clean-up leaves it alone.
class LockedFolder {
public:
    explicit LockedFolder(const std::filesystem::path& path);

private:
    core::UniqueFd folder_;
};

// Whether some live process holds the lock of the folder at `path`.
bool isLockedByAnother(const std::filesystem::path& path);

// Copies a bundle tree exactly: folders, files with their modes, links as links. Anything else
// (a device, a pipe) fails the copy. On failure `failure` says why and part of `to` may exist.
bool copyTree(const std::filesystem::path& from, const std::filesystem::path& to, std::string& failure);

// A fresh hidden sibling of `installed` to stage a bundle in.
std::filesystem::path stagedSibling(const std::filesystem::path& installed);

// Points of a swap at which a test can step in (stop the process, for one).
enum class SwapStage { staged, betweenRenames };

// Flushes the complete staged bundle and puts it in the place of `installed`: one
// renameat2(RENAME_EXCHANGE), or two renames where the file system cannot exchange (or when
// `exchangeSupported` is false), or one rename when nothing is installed yet; the replaced bundle is
// removed. Nothing on success, otherwise the reason, with `staged` removed and `installed` as it was.
std::optional<std::string> commitStaged(const std::filesystem::path& staged, const std::filesystem::path& installed,
                                        bool exchangeSupported = true,
                                        const std::function<void(SwapStage)>& atStage = {});

// Whether `name` is one of the hidden siblings a swap of the bundle named `installedName` uses.
bool isSwapSibling(const std::string& installedName, const std::string& name);

// Completes or undoes a swap of `installed` that a killed process left half done, so the place
// holds exactly one complete bundle, and removes the siblings of abandoned swaps (not those a live
// process holds locked).
void finishInterruptedSwap(const std::filesystem::path& installed);

}  // namespace bundle
