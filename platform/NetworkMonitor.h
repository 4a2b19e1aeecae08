#pragma once

#include <functional>
#include <memory>

namespace platform {

// Tells of changes in the system's network connectivity until it is destroyed.
class NetworkWatch {
public:
    virtual ~NetworkWatch() = default;
};

// Calls `changed` on the main loop, with whether a network is available, each time the system
// reports a change. Never calls it after the watch is gone.
[[nodiscard]] std::unique_ptr<NetworkWatch> watchNetwork(std::function<void(bool available)> changed);

}  // namespace platform
