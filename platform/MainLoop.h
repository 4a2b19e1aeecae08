#pragma once

#include <functional>
#include <utility>

namespace platform {

// A timer on the main loop. It stops when this handle is destroyed or cancelled.
class Timer {
public:
    Timer() = default;
    explicit Timer(unsigned sourceId) : sourceId_(sourceId) {}
    Timer(Timer&& other) noexcept : sourceId_(std::exchange(other.sourceId_, 0)) {}
    Timer& operator=(Timer&& other) noexcept;
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer() { cancel(); }

    void cancel();
    bool active() const { return sourceId_ != 0; }

private:
    unsigned sourceId_ = 0;
};

// Runs `work` once on the main loop after `seconds`. The work must check that whatever it touches
// still exists: nothing cancels it.
void runAfter(double seconds, std::function<void()> work);

// Runs `work` on the main loop every `seconds` until the returned timer is destroyed.
[[nodiscard]] Timer repeatEvery(double seconds, std::function<void()> work);

}  // namespace platform
