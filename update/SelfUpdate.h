#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bundle/Swap.h"
#include "platform/Http.h"
#include "update/InstallProgress.h"

// The in-place installer: downloads an update archive, unpacks it into a private working folder,
// checks the new Tolvar.app (signature, signing team, assessment, version) with the running bundle's
// tools and has it swapped into the place of the running bundle (bundle/Swap.h); and restarts the
// application.
namespace SelfUpdate {

class Failure {
public:
    enum class Kind { download, signature, team, gatekeeper, version, swap, notWritable, unzip, noApp, cancelled };

    static Failure download(std::string text) { return {Kind::download, std::move(text)}; }
    static Failure signature(std::string text) { return {Kind::signature, std::move(text)}; }
    static Failure team(std::string text) { return {Kind::team, std::move(text)}; }
    static Failure gatekeeper(std::string text) { return {Kind::gatekeeper, std::move(text)}; }
    static Failure version(std::string text) { return {Kind::version, std::move(text)}; }
    static Failure swap(std::string text) { return {Kind::swap, std::move(text)}; }
    static Failure notWritable() { return {Kind::notWritable, {}}; }
    static Failure unzip() { return {Kind::unzip, {}}; }
    static Failure noApp() { return {Kind::noApp, {}}; }
    // The user stopped the install before its swap.
    static Failure cancelled() { return {Kind::cancelled, {}}; }

    Kind kind() const { return kind_; }
    const std::string& text() const { return text_; }
    // The message of the failure, for example "download failed: HTTP 404".
    std::string description() const;

    friend bool operator==(const Failure&, const Failure&) = default;

private:
    Failure(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}
    Kind kind_;
    std::string text_;
};

using Completion = std::function<void(std::optional<Failure>)>;

// Shared by whoever may stop an install (on the main thread) and the installer's thread: a cancel
// takes effect until the swap begins, and from then on is refused.
class InstallControl {
public:
    // Stops the download at once, or the verification at its next step. Answers false when the swap
    // has already begun.
    bool cancel();
    bool cancelled() const;
    // The installer's last step before the swap: false when the install was cancelled.
    bool beginSwap();
    const platform::DownloadCancel& download() const { return download_; }

private:
    enum class State { running, cancelled, swapping };
    mutable std::mutex mutex_;
    State state_ = State::running;
    platform::DownloadCancel download_;
};

// The thread of one install. Dropping the handle (or stop()) cancels an install still running and
// waits for its thread to end; a swap already begun is waited for, never cut short. Whatever the
// thread handed to the main loop (the event, the completion) still runs there afterwards.
class Worker {
public:
    Worker() = default;
    Worker(std::thread thread, std::shared_ptr<InstallControl> control)
        : thread_(std::move(thread)), control_(std::move(control)) {}
    Worker(Worker&& other) noexcept = default;
    Worker& operator=(Worker&& other) noexcept;
    ~Worker() { stop(); }

    void stop();
    bool running() const { return thread_.joinable(); }

private:
    std::thread thread_;
    std::shared_ptr<InstallControl> control_;
};

// How a caller follows one install. `progress` runs on the main loop with the latest state (a quick
// series of changes may arrive as only its last one); without `control` the install cannot be stopped.
struct Watch {
    std::function<void(const InstallProgress::Progress&)> progress;
    std::shared_ptr<InstallControl> control;
};

// Whether the folder that holds the running bundle is writable by this process.
bool canInstallInPlace();

// Installs the archive at `zipURL`, which must hold a Tolvar.app of `expectedVersion` signed by the
// running bundle's team. Call on the main thread. The completion runs once on the main thread,
// after the "self-update" event, with nothing on success; it runs at once, with `notWritable` and no
// event, when the application's folder cannot be written (the worker then runs nothing).
[[nodiscard]] Worker install(const std::string& zipURL, const std::string& expectedVersion, Completion completion,
                             Watch watch = {});

// Starts the installed bundle again one second after this process has ended, and quits.
void relaunch();

// At start: completes or undoes a swap that an earlier run left half done, so the install path holds
// exactly one complete bundle, and removes what abandoned attempts left behind.
void finishInterruptedInstall();

namespace detail {

// Everything an install depends on, filled from the running process when it is not given.
struct Setup {
    std::filesystem::path installed;      // the bundle to replace
    std::filesystem::path temporaryRoot;  // where the working folder is made
    std::filesystem::path tools;          // the folder holding tolvar-codesign and tolvar-assess
    std::optional<std::string> expectTeamVariable;  // TOLVAR_E2E_EXPECT_TEAM
    platform::DownloadLimits limits;
    // The most an archive may unpack to (file contents plus a little for each entry's description):
    // past it the unpacking stops and the update counts as not unpackable.
    std::uint64_t largestUnpacked = 1ull << 30;
    bool exchangeSupported = true;        // false makes the swap take its two-rename path
    std::function<void(bundle::SwapStage)> atStage;
};

bool canInstallInPlace(const std::filesystem::path& installed);

[[nodiscard]] Worker install(const Setup& setup, const std::string& zipURL, const std::string& expectedVersion,
                             Completion completion, Watch watch = {});

// The swap's part (see bundle::finishInterruptedSwap), and the working folders in `temporaryRoot`
// of attempts whose process has gone.
void finishInterruptedInstall(const std::filesystem::path& installed, const std::filesystem::path& temporaryRoot);

}  // namespace detail
}  // namespace SelfUpdate
