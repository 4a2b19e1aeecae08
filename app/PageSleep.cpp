#include "app/PageSleep.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <utility>

#include "platform/Services.h"

std::string_view PageSleep::name(Reason reason) {
    switch (reason) {
        case Reason::backgroundStart: return "background-start";
        case Reason::hidden: return "hidden";
        case Reason::shown: return "shown";
        case Reason::quickSave: return "quick-save";
    }
    return "";
}

double PageSleep::delayFrom(const std::optional<std::string>& value) {
    if (!value) return defaultDelaySeconds;
    double seconds = 0;
    const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), seconds);
    const bool whole = error == std::errc() && end == value->data() + value->size();
    return whole && std::isfinite(seconds) && seconds > 0 ? seconds : defaultDelaySeconds;
}

void PageSleep::startAsleep() {
    state_ = State::asleep;
    ++timerGeneration_;
    if (actions_.suspend) actions_.suspend(Reason::backgroundStart);
}

void PageSleep::windowVisibilityChanged(bool visible) {
    windowVisible_ = visible;
    if (visible) wake(Reason::shown);
    reconsider();
}

void PageSleep::panelPresented() {
    wake(Reason::quickSave);
    reconsider();
}

void PageSleep::downloadStarted() {
    ++downloads_;
    reconsider();
}

void PageSleep::downloadEnded() {
    if (downloads_ > 0) --downloads_;
    reconsider();
}

void PageSleep::pageLoaded() {
    state_ = State::awake;
    for (auto& work : std::exchange(waiting_, {})) run(std::move(work), true);
    reconsider();
}

void PageSleep::pageLoadFailed() {
    if (state_ != State::waking) return;
    // The page shown now is the failure page, which tries again by itself.
    state_ = State::awake;
    for (auto& work : std::exchange(waiting_, {})) run(std::move(work), false);
    reconsider();
}

void PageSleep::whenLoaded(Work work) {
    if (state_ == State::awake) return run(std::move(work), true);
    waiting_.push_back(std::move(work));
    wake(Reason::quickSave);
    reconsider();
}

void PageSleep::run(Work work, bool loaded) {
    ++worksInFlight_;
    // Ends once, whether the work calls it or not at all (then the page stays awake).
    auto ended = std::make_shared<bool>(false);
    work(loaded, [weakSelf = weak_from_this(), ended] {
        auto self = weakSelf.lock();
        if (!self || std::exchange(*ended, true)) return;
        self->endWork();
    });
}

void PageSleep::endWork() {
    if (worksInFlight_ > 0) --worksInFlight_;
    reconsider();
}

void PageSleep::wake(Reason reason) {
    if (state_ != State::asleep) return;
    state_ = State::waking;
    if (actions_.wake) actions_.wake(reason);
}

void PageSleep::reconsider() {
    const std::uint64_t generation = ++timerGeneration_;
    if (windowVisible_ || state_ == State::asleep || !idle()) return;
    platform::services().runAfter(delaySeconds_, [weakSelf = weak_from_this(), generation] {
        auto self = weakSelf.lock();
        if (!self || self->timerGeneration_ != generation) return;
        self->state_ = State::asleep;
        ++self->timerGeneration_;
        if (self->actions_.suspend) self->actions_.suspend(Reason::hidden);
    });
}

void WakingWebView::callAsyncJavaScript(const std::string& body, const nlohmann::json& arguments,
                                        double timeLimitSeconds, std::function<void(platform::ScriptResult)> done) {
    // One call: its answer, its timer, and the page's hold on the work once it runs. Whichever of
    // answer and time limit comes first ends it, and lets the page sleep again.
    struct Call {
        std::function<void(platform::ScriptResult)> done;
        std::function<void()> workDone;
        platform::Timer limit;
        std::chrono::steady_clock::time_point deadline;

        void end(platform::ScriptResult result) {
            if (!done) return;
            limit.cancel();
            if (workDone) std::exchange(workDone, nullptr)();
            std::exchange(done, nullptr)(std::move(result));
        }
    };
    auto call = std::make_shared<Call>();
    call->done = std::move(done);
    call->deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                            std::chrono::duration<double>(timeLimitSeconds));
    // The time limit covers the wait for the page as well as the script.
    call->limit = platform::services().runOnceAfter(timeLimitSeconds, [weakCall = std::weak_ptr(call)] {
        if (auto expired = weakCall.lock()) {
            expired->end({.succeeded = false, .value = nullptr, .error = "the script timed out"});
        }
    });
    sleep_->whenLoaded([weakSelf = weak_from_this(), body, arguments, call](bool loaded,
                                                                            std::function<void()> workDone) {
        auto self = weakSelf.lock();
        if (!self || !call->done) return workDone();
        call->workDone = std::move(workDone);
        if (!loaded) return call->end({.succeeded = false, .value = nullptr, .error = "the page could not be loaded"});
        const std::chrono::duration<double> left = call->deadline - std::chrono::steady_clock::now();
        self->view_.callAsyncJavaScript(body, arguments, std::max(0.0, left.count()),
                                        [call](platform::ScriptResult result) { call->end(std::move(result)); });
    });
}
