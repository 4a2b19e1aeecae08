#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace platform {
class SnapshotSource;
}

// Automation hooks: a journal of events, one JSON line each, in the folder named by TOLVAR_E2E_DIR.
// Without that variable every call returns at once and nothing is written.
namespace E2E {

// The automation folder, read from the environment on first use and fixed for the process.
const std::optional<std::filesystem::path>& dir();

bool enabled();

// Appends one event to "events.jsonl". `fields` is a flat JSON object; "event", "seq" and (when a
// window picture was drawn) "snapshot" are set here. Never fails towards the caller.
void report(const std::string& name, nlohmann::json fields = nlohmann::json::object(),
            const platform::SnapshotSource* window = nullptr);

// Writes a file of the given name into the automation folder, replacing an earlier one. Answers
// whether it was written; without automation nothing is written.
bool writeFile(const std::string& name, const std::string& bytes);

// The parts of report() that do not depend on the process-wide state, for tests.
namespace detail {

// The journal line for an event (with its trailing line feed), or nothing when the fields cannot be
// written as UTF-8 JSON.
std::optional<std::string> journalLine(nlohmann::json fields, const std::string& name, std::int64_t seq,
                                       const std::optional<std::string>& snapshotName);

// Appends `line` to `journal`. An existing file is only ever appended to; a missing one is created
// atomically and never replaces a file that appeared meanwhile. Failures are swallowed.
void appendToJournal(const std::filesystem::path& journal, const std::string& line);

std::string snapshotFileName(std::int64_t seq, const std::string& name);

}  // namespace detail
}  // namespace E2E
