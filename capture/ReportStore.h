#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "capture/CaptureRules.h"

// The latest extension report of each browser, kept in one file per browser in a folder of the
// user's runtime directory ($XDG_RUNTIME_DIR/tolvar-capture). The folder is the user's alone (0700)
// and each file too (0600); a folder or file that is not the user's, is open to others, or is a
// symbolic link is neither written nor believed. Files are replaced atomically, so a reader sees
// the old report or the new one, never a mixture.
namespace capture {

class ReportStore {
public:
    // The store in the folder given; `forRuntimeDirectory` picks the usual one.
    explicit ReportStore(std::filesystem::path folder) : folder_(std::move(folder)) {}
    // Nothing when XDG_RUNTIME_DIR is unset or not an absolute path.
    static std::optional<ReportStore> forRuntimeDirectory();

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path fileFor(std::string_view browserKey) const;

    // Replaces the browser's report; false when the folder cannot be made safe or the write fails,
    // in which case the previous report stays as it was.
    bool write(const Report& report) const;
    // The browser's report, when one is stored and the folder and file pass the checks.
    std::optional<Report> read(std::string_view browserKey) const;

private:
    std::filesystem::path folder_;
};

}  // namespace capture
