#pragma once

#include <glib.h>

#include <chrono>
#include <functional>
#include <thread>

namespace testsupport {

// Runs the default main context until `done` answers true or `limit` passes; answers `done()`.
inline bool runMainLoopUntil(const std::function<bool()>& done,
                             std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
        if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

}  // namespace testsupport
