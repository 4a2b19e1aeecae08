#pragma once

#include <optional>
#include <string>

namespace core {

// The value of an environment variable at the moment of the call. A variable that is set to the
// empty string is present and answers "".
std::optional<std::string> environmentValue(const std::string& name);

// Sets a variable for this process and the processes it starts, unless it is already set.
void setEnvironmentDefault(const std::string& name, const std::string& value);

}  // namespace core
