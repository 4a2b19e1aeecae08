#include "update/SelfUpdate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "automation/E2E.h"
#include "bundle/Description.h"
#include "bundle/Tools.h"
#include "core/Environment.h"
#include "platform/Bundle.h"
#include "platform/MainLoop.h"
#include "platform/Process.h"
#include "update/ArchiveChecks.h"

namespace SelfUpdate {
namespace fs = std::filesystem;
using detail::Setup;

namespace {

constexpr const char* shell = "/bin/sh";
constexpr std::string_view bundleName = "Tolvar.app";
constexpr std::string_view workingPrefix = "tolvar-update-";
constexpr std::string_view versionSeparator = " instead of ";
// An update archive of a desktop application is tens of megabytes; a download that is larger or
// slower than this is not one worth waiting for.
constexpr platform::DownloadLimits processLimits{256ull << 20, 600};

// Where the installer's thread tells its progress: `report` hands on a state (on that thread).
struct Reporter {
    std::function<void(const InstallProgress::Progress&)> report;
    InstallControl* control = nullptr;
};

fs::path temporaryRoot() {
    std::error_code error;
    auto temporary = fs::temp_directory_path(error);
    return error ? fs::path("/tmp") : temporary;
}

std::optional<Setup> processSetup() {
    const auto installed = platform::runningBundleDir();
    if (!installed) return std::nullopt;
    return Setup{.installed = *installed,
                 .temporaryRoot = temporaryRoot(),
                 .tools = *installed / bundle::toolsFolder,
                 .expectTeamVariable = core::environmentValue("TOLVAR_E2E_EXPECT_TEAM"),
                 .limits = processLimits};
}

std::string firstBytes(const fs::path& file, std::size_t count) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes(count, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(count));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

platform::ProcessResult run(const UpdateArchive::Command& command) { return bundle::run(command.program, command.arguments); }

// Unpacks the zip at `archive` into the new folder `into`, refusing it before anything is written
// when its listings show an entry or a link that leaves the folder, and stopping past `largest`
// bytes of unpacked data.
std::optional<Failure> unpack(const fs::path& archive, const fs::path& into, std::uint64_t largest) {
    if (!UpdateArchive::looksLikeZip(firstBytes(archive, 4))) return Failure::unzip();
    const auto names = run(UpdateArchive::listNames(archive.string()));
    if (names.status != 0 || UpdateArchive::listingHasEscapingName(names.output)) return Failure::unzip();
    const auto links = run(UpdateArchive::listLinks(archive.string()));
    if (links.status != 0 || UpdateArchive::listingHasUnsafeLink(links.output)) return Failure::unzip();
    if (::mkdir(into.c_str(), 0700) != 0) return Failure::unzip();
    const auto pack = UpdateArchive::streamAsTar(archive.string());
    const auto unpack = UpdateArchive::unpackStream(into.string());
    const auto unpacked = platform::runPipeline(pack.program, pack.arguments, unpack.program, unpack.arguments, largest);
    if (unpacked.exceeded || unpacked.firstStatus != 0 || unpacked.secondStatus != 0) return Failure::unzip();
    return std::nullopt;
}

// Moves the verified bundle next to the installed one (or copies it there from another file system),
// so the exchange stays within one folder, checks it again where it now lies, and swaps it in.
std::optional<Failure> swapInto(const Setup& setup, const fs::path& candidate, const std::string& team) {
    const fs::path staged = bundle::stagedSibling(setup.installed);
    std::error_code ignored;
    if (::rename(candidate.c_str(), staged.c_str()) != 0) {
        if (errno != EXDEV) return Failure::swap(std::strerror(errno));
        std::string failure;
        if (!bundle::copyTree(candidate, staged, failure)) {
            fs::remove_all(staged, ignored);
            return Failure::swap(failure);
        }
    }
    bundle::LockedFolder lock(staged);
    const bundle::Tools tools(setup.tools);
    const auto check = tools.verify(staged);
    if (check.status != 0 || tools.team(staged).value_or("") != team) {
        fs::remove_all(staged, ignored);
        return Failure::swap("the staged update does not verify: " + bundle::trimmed(check.output));
    }
    if (auto failure = bundle::commitStaged(staged, setup.installed, setup.exchangeSupported, setup.atStage)) {
        return Failure::swap(*failure);
    }
    return std::nullopt;
}

// The verification and swap of a downloaded archive, on the calling thread.
std::optional<Failure> verifyAndSwap(const Setup& setup, const fs::path& workingFolder, const fs::path& archive,
                                     const std::string& expectedVersion, const Reporter& reporter) {
    if (reporter.report) reporter.report({.phase = InstallProgress::Phase::verifying});
    const auto cancelled = [&] { return reporter.control && reporter.control->cancelled(); };
    const fs::path unpacked = workingFolder / "unpacked";
    if (auto failure = unpack(archive, unpacked, setup.largestUnpacked)) return failure;
    if (cancelled()) return Failure::cancelled();

    const fs::path candidate = unpacked / bundleName;
    struct stat found {};
    if (::lstat(candidate.c_str(), &found) != 0) return Failure::noApp();

    const bundle::Tools tools(setup.tools);
    const auto signature = tools.verify(candidate);
    if (signature.status != 0) return Failure::signature(bundle::trimmed(signature.output));

    auto expected = tools.team(setup.installed);
    if (!expected) expected = setup.expectTeamVariable.value_or("");
    const std::string team = tools.team(candidate).value_or("");
    if (team.empty() || team != *expected) return Failure::team(team + " vs " + *expected);

    const auto assessment = tools.assess(candidate);
    if (assessment.status != 0) return Failure::gatekeeper(bundle::trimmed(assessment.output));
    if (cancelled()) return Failure::cancelled();

    const auto info = bundle::readInfo(candidate);
    const std::string version = info ? info->version : "?";
    if (version != expectedVersion) {
        return Failure::version(version + std::string(versionSeparator) + expectedVersion);
    }
    if (reporter.control && !reporter.control->beginSwap()) return Failure::cancelled();
    if (reporter.report) reporter.report({.phase = InstallProgress::Phase::installing});
    return swapInto(setup, candidate, team);
}

std::optional<Failure> downloadAndVerify(const Setup& setup, const std::string& zipURL,
                                         const std::string& expectedVersion, const Reporter& reporter) {
    // The working folder is private to this user and locked while the attempt runs.
    const fs::path work = setup.temporaryRoot / (std::string(workingPrefix) + bundle::uniqueName());
    std::error_code ignored;
    fs::create_directories(setup.temporaryRoot, ignored);
    const bool made = ::mkdir(work.c_str(), 0700) == 0;
    std::optional<Failure> failure;
    {
        bundle::LockedFolder lock(work);
        const fs::path archive = work / "update.zip";
        platform::DownloadWatch watch{.cancel = reporter.control ? &reporter.control->download() : nullptr};
        if (reporter.report) {
            watch.progress = [&](std::uint64_t received, std::optional<std::uint64_t> total) {
                reporter.report({InstallProgress::Phase::downloading, received, total});
            };
        }
        const auto outcome = platform::downloadFile(zipURL, archive, setup.limits, watch);
        if (reporter.control && reporter.control->cancelled()) failure = Failure::cancelled();
        else if (outcome.error) failure = Failure::download(*outcome.error);
        else if (!outcome.saved) failure = Failure::download("HTTP " + std::to_string(outcome.isHttp ? outcome.status : 0));
        else if (outcome.isHttp && outcome.status != 200) failure = Failure::download("HTTP " + std::to_string(outcome.status));
        else failure = verifyAndSwap(setup, work, archive, expectedVersion, reporter);
    }
    if (made) fs::remove_all(work, ignored);
    return failure;
}

// Hands the installer thread's progress to the main loop with at most one hop queued at a time, so a
// fast download cannot flood the loop: the hop delivers whatever state is latest when it runs.
class ProgressRelay : public std::enable_shared_from_this<ProgressRelay> {
public:
    explicit ProgressRelay(std::function<void(const InstallProgress::Progress&)> deliver)
        : deliver_(std::move(deliver)) {}

    void report(const InstallProgress::Progress& progress) {
        {
            std::lock_guard lock(mutex_);
            latest_ = progress;
            if (queued_) return;
            queued_ = true;
        }
        platform::runAfter(0, [self = shared_from_this()] { self->deliverLatest(); });
    }

private:
    void deliverLatest() {
        InstallProgress::Progress progress;
        {
            std::lock_guard lock(mutex_);
            progress = latest_;
            queued_ = false;
        }
        deliver_(progress);
    }

    std::function<void(const InstallProgress::Progress&)> deliver_;
    std::mutex mutex_;
    InstallProgress::Progress latest_;
    bool queued_ = false;
};

// The relaunch script given to /bin/sh: "$0" is the bundle, "$1" the id of the process to outlive.
std::string relaunchScript() {
    // Waits one second and until this process has ended (at most half a minute more), so the new
    // instance does not hand itself over to the old one, then starts the bundle's executable.
    return "sleep 1; i=0; while kill -0 \"$1\" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done; "
           "exec \"$0/bin/tolvar\"";
}

}  // namespace

std::string Failure::description() const {
    switch (kind_) {
        case Kind::download: return "download failed: " + text_;
        case Kind::signature: return "code signature invalid: " + text_;
        case Kind::team: return "signed by a different team: " + text_;
        case Kind::gatekeeper: return "not accepted by Gatekeeper: " + text_;
        case Kind::version: return "version mismatch: " + text_;
        case Kind::swap: return "couldn't replace the app: " + text_;
        case Kind::notWritable: return "app folder not writable";
        case Kind::unzip: return "couldn't unpack the update";
        case Kind::noApp: return "no Tolvar.app in the update";
        case Kind::cancelled: return "cancelled by the user";
    }
    return {};
}

Worker& Worker::operator=(Worker&& other) noexcept {
    if (this != &other) {
        stop();
        thread_ = std::move(other.thread_);
        control_ = std::move(other.control_);
    }
    return *this;
}

void Worker::stop() {
    if (!thread_.joinable()) return;
    if (control_) control_->cancel();
    thread_.join();
}

bool InstallControl::cancel() {
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::swapping) return false;
        state_ = State::cancelled;
    }
    download_.cancel();
    return true;
}

bool InstallControl::cancelled() const {
    std::lock_guard lock(mutex_);
    return state_ == State::cancelled;
}

bool InstallControl::beginSwap() {
    std::lock_guard lock(mutex_);
    if (state_ == State::cancelled) return false;
    state_ = State::swapping;
    return true;
}

bool canInstallInPlace() {
    const auto installed = platform::runningBundleDir();
    return installed && detail::canInstallInPlace(*installed);
}

Worker install(const std::string& zipURL, const std::string& expectedVersion, Completion completion, Watch watch) {
    const auto setup = processSetup();
    if (!setup) {
        completion(Failure::notWritable());
        return {};
    }
    return detail::install(*setup, zipURL, expectedVersion, std::move(completion), std::move(watch));
}

void relaunch() {
    if (const auto installed = platform::runningBundleDir()) {
        platform::startDetached(shell, {"-c", relaunchScript(), installed->string(), std::to_string(platform::processId())});
    }
    platform::quitApplication();
}

void finishInterruptedInstall() {
    if (const auto installed = platform::runningBundleDir()) detail::finishInterruptedInstall(*installed, temporaryRoot());
}

namespace detail {

bool canInstallInPlace(const fs::path& installed) {
    return ::access(installed.parent_path().c_str(), W_OK) == 0;
}

Worker install(const Setup& setup, const std::string& zipURL, const std::string& expectedVersion,
               Completion completion, Watch watch) {
    if (!canInstallInPlace(setup.installed)) {
        completion(Failure::notWritable());
        return {};
    }
    Reporter reporter;
    if (watch.progress) {
        reporter.report = [relay = std::make_shared<ProgressRelay>(std::move(watch.progress))](
                              const InstallProgress::Progress& progress) { relay->report(progress); };
    }
    // The download, verification and swap run away from the main loop; only the progress, the event
    // and the completion come back to it. The thread shares the control with the worker, which may
    // cancel the install through it.
    auto control = watch.control ? std::move(watch.control) : std::make_shared<InstallControl>();
    std::thread thread([setup, zipURL, expectedVersion, reporter = std::move(reporter), control,
                        completion = std::move(completion)]() mutable {
        reporter.control = control.get();
        const auto failure = downloadAndVerify(setup, zipURL, expectedVersion, reporter);
        platform::runAfter(0, [failure, expectedVersion, completion = std::move(completion)] {
            E2E::report("self-update", {{"ok", !failure.has_value()},
                                        {"error", failure ? failure->description() : std::string()},
                                        {"version", expectedVersion}});
            completion(failure);
        });
    });
    return Worker(std::move(thread), std::move(control));
}

void finishInterruptedInstall(const fs::path& installed, const fs::path& temporaryRoot) {
    bundle::finishInterruptedSwap(installed);
    // Working folders of attempts whose process has gone.
    std::error_code error;
    for (fs::directory_iterator it(temporaryRoot, error), end; !error && it != end; it.increment(error)) {
        const std::string entry = it->path().filename().string();
        if (!entry.starts_with(workingPrefix)) continue;
        struct stat folder {};
        if (::lstat(it->path().c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode) || folder.st_uid != ::geteuid()) {
            continue;
        }
        if (!bundle::isLockedByAnother(it->path())) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
}

}  // namespace detail
}  // namespace SelfUpdate
