#include "core/Environment.h"

#include <cstdlib>

namespace core {

std::optional<std::string> environmentValue(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

void setEnvironmentDefault(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 0);
}

}  // namespace core
