#include "update/SelfUpdate.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "automation/E2E.h"
#include "platform/Bundle.h"
#include "core/Environment.h"
#include "core/Io.h"
#include "platform/MainLoop.h"
#include "core/Json.h"
#include "core/Text.h"
#include "update/UpdateInfo.h"

namespace SelfUpdate {
namespace fs = std::filesystem;

namespace {

constexpr const char* archiveTool = "/usr/bin/bsdtar";
constexpr const char* codesignTool = "tolvar-codesign";
constexpr const char* assessTool = "tolvar-assess";
constexpr const char* shell = "/bin/sh";
constexpr std::string_view bundleName = "Tolvar.app";
constexpr std::string_view workingPrefix = "tolvar-update-";
constexpr std::string_view teamMarker = "TeamIdentifier=";
constexpr std::string_view noTeam = "not set";
constexpr std::string_view versionSeparator = " instead of ";
constexpr std::string_view stagedInfix = ".tolvar-staged-";
constexpr std::string_view previousInfix = ".tolvar-previous-";
// An update archive of a desktop application is tens of megabytes; a download that is larger or
// slower than this is not one worth waiting for.
constexpr platform::DownloadLimits processLimits{256ull << 20, 600};

// A random (version 4) UUID in its upper-case textual form.
std::string makeUUID() {
    std::random_device source;
    unsigned char bytes[16];
    for (auto& byte : bytes) byte = static_cast<unsigned char>(source() & 0xFF);
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string trimmed(const std::string& text) {
    const char* space = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(space);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// A folder locked for as long as this object lives: another process's clean-up leaves it alone.
class LockedFolder {
public:
    explicit LockedFolder(const fs::path& path) : folder_(openFolder(path)) {
        if (folder_.valid()) ::flock(folder_.get(), LOCK_EX);
    }

    static core::UniqueFd openFolder(const fs::path& path) {
        return core::UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }

private:
    core::UniqueFd folder_;
};

// Whether some live process holds the lock of the folder at `path`.
bool isLockedByAnother(const fs::path& path) {
    const auto folder = LockedFolder::openFolder(path);
    return folder.valid() && ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

void syncPath(const fs::path& path, bool directory) {
    const core::UniqueFd fd(
        ::open(path.c_str(), (directory ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC));
    if (fd.valid()) ::fsync(fd.get());
}

// Copies what is left to read from `in` into `out`; false, with errno set, when that failed.
bool copyContents(int in, int out) {
    char buffer[65536];
    while (true) {
        const auto got = core::readAll(in, buffer, sizeof buffer);
        if (!got) return false;
        if (*got == 0) return true;
        if (!core::writeAll(out, std::string_view(buffer, *got))) return false;
    }
}

// Flushes every file and folder of a tree to the disk, the folders after what they hold.
void syncTree(const fs::path& root) {
    std::error_code error;
    std::vector<fs::path> folders{root};
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        const auto status = it->symlink_status(error);
        if (error) break;
        if (fs::is_directory(status)) folders.push_back(it->path());
        else if (fs::is_regular_file(status)) syncPath(it->path(), false);
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) syncPath(*it, true);
}

}  // namespace

bool copyBundle(const fs::path& from, const fs::path& to, std::string& failure) {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0) {
        failure = std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        if (::mkdir(to.c_str(), 0700) != 0) {
            failure = std::strerror(errno);
            return false;
        }
        std::error_code error;
        for (fs::directory_iterator it(from, error), end; !error && it != end; it.increment(error)) {
            if (!copyBundle(it->path(), to / it->path().filename(), failure)) return false;
        }
        if (error) {
            failure = error.message();
            return false;
        }
        if (::chmod(to.c_str(), info.st_mode & 07777) != 0) {
            failure = std::strerror(errno);
            return false;
        }
        return true;
    }
    if (S_ISLNK(info.st_mode)) {
        std::error_code error;
        const auto target = fs::read_symlink(from, error);
        if (error || ::symlink(target.c_str(), to.c_str()) != 0) {
            failure = error ? error.message() : std::strerror(errno);
            return false;
        }
        return true;
    }
    if (!S_ISREG(info.st_mode)) {
        failure = "special file in the update: " + from.filename().string();
        return false;
    }
    const core::UniqueFd in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    const core::UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    bool ok = in.valid() && out.valid() && copyContents(in.get(), out.get()) &&
              ::fchmod(out.get(), info.st_mode & 07777) == 0;
    if (!ok) failure = std::strerror(errno);
    return ok;
}

fs::path stagedSibling(const fs::path& installed) {
    return installed.parent_path() / ("." + installed.filename().string() + std::string(stagedInfix) + makeUUID());
}

std::optional<std::string> commitStaged(const fs::path& staged, const fs::path& installed, bool exchangeSupported,
                                        const std::function<void(detail::Stage)>& atStage) {
    const fs::path parent = installed.parent_path();
    std::error_code ignored;
    syncTree(staged);
    syncPath(parent, true);
    if (atStage) atStage(detail::Stage::staged);

    struct stat existing {};
    if (::lstat(installed.c_str(), &existing) != 0 && errno == ENOENT) {
        // Nothing installed yet: the staged bundle only takes the free name.
        if (::rename(staged.c_str(), installed.c_str()) != 0) {
            const std::string reason = std::strerror(errno);
            fs::remove_all(staged, ignored);
            return reason;
        }
        syncPath(parent, true);
        return std::nullopt;
    }
    if (exchangeSupported) {
        if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, installed.c_str(), RENAME_EXCHANGE) == 0) {
            syncPath(parent, true);
            fs::remove_all(staged, ignored);  // the old bundle, now under the sibling name
            syncPath(parent, true);
            return std::nullopt;
        }
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
            const std::string reason = std::strerror(errno);
            fs::remove_all(staged, ignored);
            return reason;
        }
    }
    // No exchange on this file system: two renames. A start that finds the install path empty
    // finishes the swap from the staged sibling (see finishInterruptedInstall).
    const std::string stagedName = staged.filename().string();
    const fs::path previous =
        parent / ("." + installed.filename().string() + std::string(previousInfix) +
                  stagedName.substr(stagedName.find(stagedInfix) + stagedInfix.size()));
    if (::rename(installed.c_str(), previous.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        fs::remove_all(staged, ignored);
        return reason;
    }
    syncPath(parent, true);
    if (atStage) atStage(detail::Stage::betweenRenames);
    if (::rename(staged.c_str(), installed.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::rename(previous.c_str(), installed.c_str());
        fs::remove_all(staged, ignored);
        syncPath(parent, true);
        return reason;
    }
    syncPath(parent, true);
    fs::remove_all(previous, ignored);
    syncPath(parent, true);
    return std::nullopt;
}

namespace {

// "CFBundleShortVersionString" of a bundle's Info.json, or "?" when it cannot be read.
std::string bundleVersion(const fs::path& bundle) {
    const fs::path info = bundle / "Info.json";
    struct stat status {};
    if (::lstat(info.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > (1 << 20)) return "?";
    std::ifstream in(info, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto parsed = core::parseJSON(text);
    if (!parsed || !parsed->is_object()) return "?";
    const auto found = parsed->find("CFBundleShortVersionString");
    if (found == parsed->end() || !found->is_string()) return "?";
    return found->get<std::string>();
}

// Whether an archive entry name could land outside the folder it is unpacked into.
bool escapes(const std::string& name) {
    if (name.starts_with("/")) return true;
    std::stringstream parts(name);
    for (std::string part; std::getline(parts, part, '/');) {
        if (part == "..") return true;
    }
    return false;
}

// An mtree listing's name or link target with its octal escapes ("\\040" for a space) decoded.
std::string mtreeDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool octal = text[i] == '\\' && i + 3 < text.size() &&
                           std::string_view("0123").find(text[i + 1]) != std::string_view::npos &&
                           text[i + 2] >= '0' && text[i + 2] <= '7' && text[i + 3] >= '0' && text[i + 3] <= '7';
        if (!octal) {
            out += text[i];
            continue;
        }
        out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) | (text[i + 3] - '0'));
        i += 3;
    }
    return out;
}

// Whether a symbolic link named `name` (relative to the unpacking folder) with `target` points
// outside the top folder it lies in, or anywhere absolute: writing or reading through it would
// reach files the update does not own.
bool linkLeavesItsFolder(const std::string& name, const std::string& target) {
    if (target.empty() || target.starts_with("/")) return true;
    std::vector<std::string> place;
    std::stringstream parts(name);
    for (std::string part; std::getline(parts, part, '/');) {
        if (!part.empty() && part != ".") place.push_back(part);
    }
    if (place.empty()) return true;
    place.pop_back();  // the link itself
    const std::size_t floor = 1;  // never above the top folder (Tolvar.app)
    std::stringstream steps(target);
    for (std::string step; std::getline(steps, step, '/');) {
        if (step.empty() || step == ".") continue;
        if (step != "..") {
            place.push_back(step);
        } else if (place.size() <= floor) {
            return true;
        } else {
            place.pop_back();
        }
    }
    return false;
}

}  // namespace

bool detail::listingHasUnsafeLink(const std::string& mtree) {
    std::stringstream lines(mtree);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.starts_with("#") || line.starts_with("/")) continue;
        std::stringstream words(line);
        std::string name, word;
        words >> name;
        bool isLink = false;
        std::optional<std::string> target;
        while (words >> word) {
            if (word == "type=link") isLink = true;
            if (word.starts_with("link=")) target = mtreeDecoded(word.substr(5));
        }
        if (isLink && (!target || linkLeavesItsFolder(mtreeDecoded(name), *target))) return true;
    }
    return false;
}

namespace {

bool looksLikeZip(const fs::path& archive) {
    std::ifstream in(archive, std::ios::binary);
    char magic[4] = {};
    in.read(magic, 4);
    return in.gcount() == 4 && std::memcmp(magic, "PK\x03\x04", 4) == 0;
}

std::optional<Failure> unpack(const fs::path& archive, const fs::path& into, std::uint64_t largestUnpacked) {
    // bsdtar reads many formats; an update is a zip archive and nothing else.
    if (!looksLikeZip(archive)) return Failure::unzip();
    const auto listing = run(archiveTool, {"-t", "-f", archive.string()});
    if (listing.status != 0) return Failure::unzip();
    std::stringstream names(listing.output);
    for (std::string name; std::getline(names, name);) {
        if (escapes(name)) return Failure::unzip();
    }
    // Symbolic links and their targets, one entry a line with escaped names.
    const auto links = run(archiveTool, {"-c", "-f", "-", "--format", "mtree", "--options", "!all,type,link",
                                         "@" + archive.string()});
    if (links.status != 0 || detail::listingHasUnsafeLink(links.output)) return Failure::unzip();
    if (::mkdir(into.c_str(), 0700) != 0) return Failure::unzip();
    // A few kilobytes of zip can expand to any size. So one bsdtar reads the zip and writes its
    // entries as a tar stream, whose length is the unpacked contents plus 512 bytes or so per entry;
    // a second bsdtar unpacks that stream; and the bytes between them are counted here and cut off
    // past the limit, before the disk fills.
    // The modes are taken from the archive as they are (no umask), so the signature check sees
    // exactly what was shipped; ownership, ACLs, attributes and flags are not restored.
    const auto unpacked = platform::runPipeline(
        archiveTool, {"-c", "-f", "-", "--format", "pax", "@" + archive.string()}, archiveTool,
        {"-x", "-f", "-", "-C", into.string(), "-p", "--no-same-owner", "--no-acls", "--no-xattrs", "--no-fflags"},
        largestUnpacked);
    if (unpacked.exceeded || unpacked.firstStatus != 0 || unpacked.secondStatus != 0) return Failure::unzip();
    return std::nullopt;
}

std::optional<Failure> swapInto(const detail::Setup& setup, const fs::path& candidate, const std::string& team) {
    const fs::path staged = stagedSibling(setup.installed);
    std::error_code ignored;

    // The verified bundle first moves next to the installed one (or is copied there from another file
    // system), so the exchange below stays within one folder.
    if (::rename(candidate.c_str(), staged.c_str()) != 0) {
        if (errno != EXDEV) return Failure::swap(std::strerror(errno));
        std::string failure;
        if (!copyBundle(candidate, staged, failure)) {
            fs::remove_all(staged, ignored);
            return Failure::swap(failure);
        }
    }
    LockedFolder lock(staged);
    // What will be swapped in is checked again where it now lies.
    const auto check = run((setup.tools / codesignTool).string(), {"--verify", "--deep", "--strict", staged.string()});
    if (check.status != 0 || detail::teamID(setup.tools, staged).value_or("") != team) {
        fs::remove_all(staged, ignored);
        return Failure::swap("the staged update does not verify: " + trimmed(check.output));
    }
    if (auto failure = commitStaged(staged, setup.installed, setup.exchangeSupported, setup.atStage)) {
        return Failure::swap(*failure);
    }
    return std::nullopt;
}

std::optional<Failure> downloadAndVerify(const detail::Setup& setup, const std::string& zipURL,
                                         const std::string& expectedVersion, const detail::Reporter& reporter) {
    // The working folder is private to this user and locked while the attempt runs.
    const fs::path work = setup.temporaryRoot / (std::string(workingPrefix) + makeUUID());
    std::error_code ignored;
    fs::create_directories(setup.temporaryRoot, ignored);
    const bool made = ::mkdir(work.c_str(), 0700) == 0;
    std::optional<Failure> failure;
    {
        LockedFolder lock(work);
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
        else failure = detail::verifyAndSwap(setup, work, archive, expectedVersion, reporter);
    }
    if (made) fs::remove_all(work, ignored);
    return failure;
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

std::optional<fs::path> installedPath() {
    static const std::optional<fs::path> bundle = platform::runningBundleDir();
    return bundle;
}

bool canInstallInPlace() {
    const auto installed = installedPath();
    return installed && detail::canInstallInPlace(*installed);
}

std::optional<std::string> teamID(const fs::path& bundle) {
    const auto installed = installedPath();
    if (!installed) return std::nullopt;
    return detail::teamID(*installed / "libexec", bundle);
}

platform::ProcessResult run(const std::string& tool, const std::vector<std::string>& arguments) {
    auto result = platform::runProcess(tool, arguments);
    if (!core::isValidUTF8(result.output)) result.output.clear();
    return result;
}

Worker install(const std::string& zipURL, const std::string& expectedVersion, Completion completion, Watch watch) {
    const auto setup = detail::processSetup();
    if (!setup) {
        completion(Failure::notWritable());
        return {};
    }
    return detail::install(*setup, zipURL, expectedVersion, std::move(completion), std::move(watch));
}

void relaunch() {
    if (const auto installed = installedPath()) {
        platform::startDetached(shell, {"-c", detail::relaunchScript(), installed->string(),
                                        std::to_string(platform::processId())});
    }
    platform::quitApplication();
}

void finishInterruptedInstall() {
    const auto installed = installedPath();
    if (!installed) return;
    std::error_code error;
    auto temporary = fs::temp_directory_path(error);
    if (error) temporary = "/tmp";
    detail::finishInterruptedInstall(*installed, temporary);
}

namespace detail {

std::optional<Setup> processSetup() {
    const auto installed = installedPath();
    if (!installed) return std::nullopt;
    std::error_code error;
    auto temporary = fs::temp_directory_path(error);
    if (error) temporary = "/tmp";
    return Setup{.installed = *installed,
                 .temporaryRoot = temporary,
                 .tools = *installed / "libexec",
                 .expectTeamVariable = core::environmentValue("TOLVAR_E2E_EXPECT_TEAM"),
                 .limits = processLimits};
}

bool canInstallInPlace(const fs::path& installed) {
    return ::access(installed.parent_path().c_str(), W_OK) == 0;
}

std::optional<std::string> teamFromDescription(const std::string& description) {
    std::stringstream lines(description);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || !line.starts_with(teamMarker)) continue;
        std::string value = line.substr(teamMarker.size());
        if (value == noTeam) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::optional<std::string> teamID(const fs::path& tools, const fs::path& bundle) {
    // The exit status says nothing here: an unsigned bundle is described too.
    return teamFromDescription(run((tools / codesignTool).string(), {"-dv", bundle.string()}).output);
}

std::optional<Failure> verifyAndSwap(const Setup& setup, const fs::path& workingFolder, const fs::path& archive,
                                     const std::string& expectedVersion, const Reporter& reporter) {
    if (reporter.report) reporter.report({.phase = InstallProgress::Phase::verifying});
    const auto cancelled = [&] { return reporter.control && reporter.control->cancelled(); };
    const fs::path unpacked = workingFolder / "unpacked";
    if (auto failure = unpack(archive, unpacked, setup.largestUnpacked)) return failure;
    if (cancelled()) return Failure::cancelled();

    const fs::path candidate = unpacked / bundleName;
    struct stat info {};
    if (::lstat(candidate.c_str(), &info) != 0) return Failure::noApp();

    const auto signature =
        run((setup.tools / codesignTool).string(), {"--verify", "--deep", "--strict", candidate.string()});
    if (signature.status != 0) return Failure::signature(trimmed(signature.output));

    auto expected = teamID(setup.tools, setup.installed);
    if (!expected) expected = setup.expectTeamVariable.value_or("");
    const std::string found = teamID(setup.tools, candidate).value_or("");
    if (found.empty() || found != *expected) return Failure::team(found + " vs " + *expected);

    const auto assessment =
        run((setup.tools / assessTool).string(), {"-a", "-t", "exec", "-vv", candidate.string()});
    if (assessment.status != 0) return Failure::gatekeeper(trimmed(assessment.output));
    if (cancelled()) return Failure::cancelled();

    const std::string version = bundleVersion(candidate);
    if (version != expectedVersion) {
        return Failure::version(version + std::string(versionSeparator) + expectedVersion);
    }
    if (setup.atStage) setup.atStage(Stage::verified);
    if (reporter.control && !reporter.control->beginSwap()) return Failure::cancelled();
    if (reporter.report) reporter.report({.phase = InstallProgress::Phase::installing});
    return swapInto(setup, candidate, found);
}

namespace {

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

}  // namespace

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

bool isSwapSibling(const std::string& installedName, const std::string& name) {
    const std::string base = "." + installedName;
    return name.starts_with(base + std::string(stagedInfix)) || name.starts_with(base + std::string(previousInfix));
}

void finishInterruptedInstall(const fs::path& installed, const fs::path& temporaryRoot) {
    const fs::path parent = installed.parent_path();
    const std::string name = installed.filename().string();
    std::error_code error;
    std::vector<fs::path> staged, previous;
    for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
        const std::string entry = it->path().filename().string();
        if (!isSwapSibling(name, entry) || isLockedByAnother(it->path())) continue;
        (entry.find(stagedInfix) != std::string::npos ? staged : previous).push_back(it->path());
    }
    struct stat info {};
    if (::lstat(installed.c_str(), &info) != 0) {
        // Interrupted between the two renames: the staged bundle was complete and flushed before the
        // first rename, so it finishes the swap; without one the previous bundle goes back.
        for (auto* list : {&staged, &previous}) {
            if (!list->empty() && ::rename(list->front().c_str(), installed.c_str()) == 0) {
                list->erase(list->begin());
                break;
            }
        }
        syncPath(parent, true);
    }
    for (const auto* list : {&staged, &previous}) {
        for (const auto& leftover : *list) fs::remove_all(leftover, error);
    }
    // Working folders of attempts whose process has gone.
    error.clear();
    for (fs::directory_iterator it(temporaryRoot, error), end; !error && it != end; it.increment(error)) {
        const std::string entry = it->path().filename().string();
        if (!entry.starts_with(workingPrefix)) continue;
        struct stat folder {};
        if (::lstat(it->path().c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode) || folder.st_uid != ::geteuid()) {
            continue;
        }
        if (!isLockedByAnother(it->path())) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
}

std::string relaunchScript() {
    // Waits one second and until this process has ended (at most half a minute more), so the new
    // instance does not hand itself over to the old one, then starts the bundle's executable.
    return "sleep 1; i=0; while kill -0 \"$1\" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done; "
           "exec \"$0/bin/tolvar\"";
}

}  // namespace detail
}  // namespace SelfUpdate
