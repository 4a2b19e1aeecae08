#pragma once

#include <functional>
#include <memory>
#include <utility>

namespace platform {

// A timer on the main loop. It stops when this handle is destroyed or cancelled; a one-shot timer
// also stops once it has run.
class Timer {
public:
    // What a timer's loop shares with its handle: whether the work may still run, and how to take
    // it off the loop.
    struct State {
        bool pending = true;
        std::function<void()> remove;
    };

    Timer() = default;
    explicit Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}
    Timer(Timer&& other) noexcept = default;
    Timer& operator=(Timer&& other) noexcept {
        if (this != &other) {
            cancel();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    ~Timer() { cancel(); }

    void cancel() {
        const auto state = std::exchange(state_, nullptr);
        if (state && std::exchange(state->pending, false) && state->remove) state->remove();
    }
    bool active() const { return state_ && state_->pending; }

private:
    std::shared_ptr<State> state_;
};

// Runs `work` once on the main loop after `seconds`. The work must check that whatever it touches
// still exists: nothing cancels it.
void runAfter(double seconds, std::function<void()> work);

// Runs `work` once on the main loop after `seconds`, unless the returned timer is destroyed or
// cancelled first.
[[nodiscard]] Timer runOnceAfter(double seconds, std::function<void()> work);

// Runs `work` on the main loop every `seconds` until the returned timer is destroyed.
[[nodiscard]] Timer repeatEvery(double seconds, std::function<void()> work);

}  // namespace platform
