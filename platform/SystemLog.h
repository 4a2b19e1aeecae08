#pragma once

#include <string>

namespace platform {

// Writes one line to the system log (syslog, as "tolvar", at error level). Failures are ignored.
void systemLog(const std::string& line);

}  // namespace platform
