#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace bundle {

// Runs a tool to completion with standard error merged into standard output. Status -1 with the
// reason as output when it cannot be started; output "" when it is not valid UTF-8.
platform::ProcessResult run(const std::string& tool, const std::vector<std::string>& arguments);

// The signing and assessment tools a bundle carries (tolvar-codesign, tolvar-assess), in `folder`,
// run on a bundle: the running one's own tools check what it is about to put in its place.
class Tools {
public:
    explicit Tools(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // "tolvar-codesign --verify --deep --strict": status 0 when the signature holds.
    platform::ProcessResult verify(const std::filesystem::path& bundle) const;
    // The signing team, from "tolvar-codesign -dv"; nothing when the bundle has none.
    std::optional<std::string> team(const std::filesystem::path& bundle) const;
    // "tolvar-assess -a -t exec -vv": status 0 when the bundle may run on this machine.
    platform::ProcessResult assess(const std::filesystem::path& bundle) const;

private:
    std::filesystem::path folder_;
};

// The team named by a "-dv" description: the value of its first "TeamIdentifier=" line, nothing for
// "not set" or when there is no such line.
std::optional<std::string> teamFromDescription(const std::string& description);

// A tool's output without the white space around it, for a message.
std::string trimmed(const std::string& text);

}  // namespace bundle
