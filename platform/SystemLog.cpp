#include "platform/SystemLog.h"

#include <syslog.h>

namespace platform {

void systemLog(const std::string& line) {
    openlog("tolvar", LOG_PID, LOG_USER);
    syslog(LOG_ERR, "%s", line.c_str());
    closelog();
}

}  // namespace platform
