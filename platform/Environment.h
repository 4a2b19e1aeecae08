#pragma once

#include <optional>
#include <string>

namespace platform {

// The value of an environment variable at the moment of the call. A variable that is set to the
// empty string is present and answers "".
std::optional<std::string> environmentValue(const std::string& name);

}  // namespace platform
