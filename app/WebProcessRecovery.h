#pragma once

#include <chrono>
#include <deque>

// What to do when the page's web process ends: load the page again, unless the process keeps
// ending, in which case reloading would only loop.
class WebProcessRecovery {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int endingsBeforeGivingUp = 3;
    static constexpr std::chrono::seconds window{60};

    enum class Action { reload, showFailurePage };

    Action processEnded(Clock::time_point now);

private:
    std::deque<Clock::time_point> recentEndings_;
};
