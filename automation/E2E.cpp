#include "automation/E2E.h"

#include <system_error>

#include "core/Environment.h"
#include "core/Files.h"
#include "platform/SnapshotSource.h"

namespace E2E {
namespace {

std::int64_t seq = 0;

// Journal files and pictures are the user's own, readable by the driver.
constexpr mode_t fileMode = 0644;

// Draws the window and writes the picture; answers the file name whenever a picture was drawn,
// even if encoding or writing it failed, so the journal names what was attempted.
std::optional<std::string> writeSnapshot(const platform::SnapshotSource& window, const std::filesystem::path& folder,
                                         std::int64_t number, const std::string& name) {
    auto png = window.snapshotPNG();
    if (!png) return std::nullopt;
    auto fileName = detail::snapshotFileName(number, name);
    if (!png->empty()) core::replaceFile(folder / fileName, *png, fileMode, core::Flush::no);
    return fileName;
}

}  // namespace

const std::optional<std::filesystem::path>& dir() {
    static const std::optional<std::filesystem::path> folder = [] {
        auto value = core::environmentValue("TOLVAR_E2E_DIR");
        return value ? std::optional<std::filesystem::path>(*value) : std::nullopt;
    }();
    return folder;
}

bool enabled() { return dir().has_value(); }

void report(const std::string& name, nlohmann::json fields, const platform::SnapshotSource* window) {
    const auto& folder = dir();
    if (!folder) return;
    const std::int64_t number = ++seq;

    std::optional<std::string> snapshot;
    if (window) snapshot = writeSnapshot(*window, *folder, number, name);

    auto line = detail::journalLine(std::move(fields), name, number, snapshot);
    if (line) detail::appendToJournal(*folder / "events.jsonl", *line);
}

bool writeFile(const std::string& name, const std::string& bytes) {
    const auto& folder = dir();
    return folder && core::replaceFile(*folder / name, bytes, fileMode, core::Flush::no);
}

namespace detail {

std::string snapshotFileName(std::int64_t number, const std::string& name) {
    return std::to_string(number) + "-" + name + ".png";
}

std::optional<std::string> journalLine(nlohmann::json fields, const std::string& name, std::int64_t number,
                                       const std::optional<std::string>& snapshotName) {
    if (!fields.is_object()) fields = nlohmann::json::object();
    fields["event"] = name;
    fields["seq"] = number;
    if (snapshotName) fields["snapshot"] = *snapshotName;
    try {
        // nlohmann's objects keep their keys sorted; the strict handler refuses invalid UTF-8.
        return fields.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict) + "\n";
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

void appendToJournal(const std::filesystem::path& journal, const std::string& line) {
    std::error_code error;
    if (std::filesystem::exists(journal, error) || (error && error != std::errc::no_such_file_or_directory)) {
        // Existing journal: append only, each line whole or not at all. If it cannot be written the
        // line is dropped; the lines already in it are never put at risk by re-creating the file.
        core::appendWhole(journal, line);
        return;
    }
    // No journal yet: it appears complete with its first line, and a journal that another writer
    // created in the meantime is never replaced.
    core::createFile(journal, line, fileMode);
}

}  // namespace detail
}  // namespace E2E
