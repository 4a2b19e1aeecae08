#include "install/Installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "bundle/Description.h"
#include "bundle/Swap.h"
#include "capture/BrowserHelpers.h"
#include "capture/CaptureRules.h"
#include "core/Files.h"
#include "install/Layout.h"
#include "platform/Bundle.h"

namespace install {
namespace fs = std::filesystem;

namespace {

constexpr mode_t fileMode = 0644;

// A file to write with these bytes, or (with a link target) a symbolic link to put there.
struct FileToWrite {
    fs::path path;
    std::string bytes;
    fs::path linkTarget = {};
};

// A failure: one line for standard error.
struct Problem {
    std::string text;
};

std::optional<std::string> readSmallFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Entries of a tree by relative path: kind, mode, and the bytes of a file or the target of a link.
std::optional<std::map<std::string, std::string>> describeTree(const fs::path& root) {
    std::map<std::string, std::string> entries;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        struct stat status {};
        if (::lstat(it->path().c_str(), &status) != 0) return std::nullopt;
        std::string description = std::to_string(status.st_mode) + ":";
        if (S_ISREG(status.st_mode)) {
            auto bytes = readSmallFile(it->path());
            if (!bytes) return std::nullopt;
            description += *bytes;
        } else if (S_ISLNK(status.st_mode)) {
            description += fs::read_symlink(it->path(), error).string();
        }
        entries[fs::relative(it->path(), root, error).string()] = std::move(description);
    }
    if (error) return std::nullopt;
    return entries;
}

bool sameBundle(const fs::path& source, const fs::path& installed) {
    std::error_code error;
    if (fs::equivalent(source, installed, error)) return true;
    if (!fs::is_directory(fs::symlink_status(installed, error))) return false;
    const auto a = describeTree(source);
    const auto b = describeTree(installed);
    return a && b && *a == *b;
}

// Makes the folder (and its parents) and checks that it can be written.
std::optional<Problem> prepareFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        // create_directories names the first path component that is in the way only in its message.
        for (fs::path part = folder; !part.empty() && part != part.root_path(); part = part.parent_path()) {
            const auto status = fs::symlink_status(part, error);
            if (fs::exists(status) && !fs::is_directory(fs::status(part, error))) {
                return Problem{part.string() + " is not a folder"};
            }
        }
        return Problem{"cannot create " + folder.string() + ": " + error.message()};
    }
    if (::access(folder.c_str(), W_OK) != 0) return Problem{folder.string() + " is not writable"};
    return std::nullopt;
}

std::optional<Problem> installBundle(const fs::path& source, const fs::path& installed) {
    if (sameBundle(source, installed)) return std::nullopt;
    const auto status = fs::symlink_status(installed);
    if (fs::exists(status) && !fs::is_directory(status)) return Problem{installed.string() + " is not a folder"};

    const fs::path staged = bundle::stagedSibling(installed);
    std::string failure;
    std::error_code ignored;
    if (!bundle::copyTree(source, staged, failure)) {
        fs::remove_all(staged, ignored);
        return Problem{"cannot copy the bundle into " + installed.parent_path().string() + ": " + failure};
    }
    if (auto why = bundle::whyNotATolvarApp(staged)) {
        fs::remove_all(staged, ignored);
        return Problem{"the copy in " + staged.string() + " does not verify: " + *why};
    }
    if (auto reason = bundle::commitStaged(staged, installed)) {
        return Problem{"cannot replace " + installed.string() + ": " + *reason};
    }
    return std::nullopt;
}

// Replaces `link` with a symbolic link to `target` in one rename.
std::optional<Problem> writeLink(const fs::path& link, const fs::path& target, std::ostream& out) {
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(link, error)) && fs::read_symlink(link, error) == target) return std::nullopt;
    const fs::path temporary = link.parent_path() / ("." + link.filename().string() + ".new-link");
    fs::remove(temporary, error);
    if (::symlink(target.c_str(), temporary.c_str()) != 0 || ::rename(temporary.c_str(), link.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        fs::remove(temporary, error);
        return Problem{"cannot write " + link.string() + ": " + reason};
    }
    out << "wrote " << link.string() << "\n";
    return std::nullopt;
}

std::optional<Problem> writeFile(const FileToWrite& file, std::ostream& out) {
    if (!file.linkTarget.empty()) return writeLink(file.path, file.linkTarget, out);
    if (core::fileHolds(file.path, file.bytes, fileMode)) return std::nullopt;
    if (!core::replaceFile(file.path, file.bytes, fileMode, core::Flush::toDisk)) {
        return Problem{"cannot write " + file.path.string() + ": " + std::strerror(errno)};
    }
    out << "wrote " << file.path.string() << "\n";
    return std::nullopt;
}

// The launcher entry, metainfo, icons and (when wanted) autostart entry, read from the bundle to be
// installed, naming the executable inside the installed copy.
std::variant<std::vector<FileToWrite>, Problem> filesFor(const fs::path& source, const Layout& layout, bool autostart) {
    const fs::path executable = layout.bundle / "bin" / "tolvar";
    const auto bundledEntry = readSmallFile(source / bundle::launcherEntry());
    const auto entry = bundledEntry ? launcherEntryFor(*bundledEntry, executable) : std::nullopt;
    const auto login = autostartEntryFor(executable);
    if (!entry || !login) return Problem{"cannot name " + executable.string() + " in a desktop entry"};

    // The metainfo links to the installed bundle's own, so its release follows every update.
    std::vector<FileToWrite> files{{layout.launcherEntry, *entry},
                                   {layout.metainfo, {}, layout.bundle / bundle::metainfo()}};
    if (autostart) files.push_back({layout.autostartEntry, *login});
    for (const auto& icon : bundle::iconFiles()) {
        auto bytes = readSmallFile(source / bundle::iconTheme / icon);
        if (!bytes) return Problem{"cannot read the icon " + (source / bundle::iconTheme / icon).string()};
        files.push_back({layout.iconTheme / icon, std::move(*bytes)});
    }
    return files;
}

bool removePath(const fs::path& path, std::ostream& out, std::ostream& err) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(path, error))) return true;
    fs::remove_all(path, error);
    if (error) {
        err << "tolvar: cannot remove " << path.string() << ": " << error.message() << "\n";
        return false;
    }
    out << "removed " << path.string() << "\n";
    return true;
}

// The browser helper files (host manifests, extension entries) that name the installed copy; those
// of another copy stay.
std::vector<fs::path> ourBrowserHelpers(const UserFolders& folders, const Layout& layout) {
    std::vector<fs::path> files;
    for (const auto& helper : capture::helperFilesFor(layout.bundle, folders.home, folders.configHome).value_or(
             std::vector<capture::HelperFile>{})) {
        if (core::fileHolds(helper.file, helper.bytes, fileMode)) files.push_back(helper.file);
    }
    return files;
}

int fail(std::ostream& err, const std::string& verb, const Problem& problem) {
    err << "tolvar: cannot " << verb << ": " << problem.text << "\n";
    return 1;
}

}  // namespace

int installForUser(const fs::path& source, std::ostream& out, std::ostream& err) {
    if (auto why = bundle::whyNotATolvarApp(source)) {
        return fail(err, "install", {source.string() + " is not a Tolvar.app: " + *why});
    }
    const auto folders = userFolders();
    if (!folders) return fail(err, "install", {"HOME must be an absolute path"});
    const Layout layout = perUserLayout(*folders);

    // A first install starts at login; a later one keeps the user's choice.
    const bool firstInstall = !fs::exists(fs::symlink_status(layout.bundle));
    const bool autostart = firstInstall || fs::exists(fs::symlink_status(layout.autostartEntry));
    auto files = filesFor(source, layout, autostart);
    if (auto* problem = std::get_if<Problem>(&files)) return fail(err, "install", *problem);
    auto& toWrite = std::get<std::vector<FileToWrite>>(files);

    // Every folder is in place and writable before anything changes.
    std::vector<fs::path> folderList{layout.bundle.parent_path()};
    for (const auto& file : toWrite) folderList.push_back(file.path.parent_path());
    for (const auto& folder : folderList) {
        if (auto problem = prepareFolder(folder)) return fail(err, "install", *problem);
    }
    if (auto problem = installBundle(source, layout.bundle)) return fail(err, "install", *problem);
    for (const auto& file : toWrite) {
        if (auto problem = writeFile(file, out)) return fail(err, "install", *problem);
    }
    if (capture::installBrowserHelpers(layout.bundle, out, err) != 0) return 1;
    const auto info = bundle::readInfo(layout.bundle);
    out << "Tolvar " << (info ? info->version : "") << " is installed in " << layout.bundle.string() << "\n";
    return 0;
}

int uninstallForUser(bool purge, std::ostream& out, std::ostream& err) {
    const auto folders = userFolders();
    if (!folders) return fail(err, "uninstall", {"HOME must be an absolute path"});
    const Layout layout = perUserLayout(*folders);

    std::vector<fs::path> paths{layout.launcherEntry, layout.autostartEntry, layout.metainfo};
    for (const auto& icon : bundle::iconFiles()) paths.push_back(layout.iconTheme / icon);
    for (const auto& helper : ourBrowserHelpers(*folders, layout)) paths.push_back(helper);
    // What an interrupted swap left beside the bundle goes with it.
    std::error_code error;
    const std::string bundleName = layout.bundle.filename().string();
    for (fs::directory_iterator it(layout.bundle.parent_path(), error), end; !error && it != end; it.increment(error)) {
        if (bundle::isSwapSibling(bundleName, it->path().filename().string())) paths.push_back(it->path());
    }
    paths.push_back(layout.bundle);
    if (purge) paths.insert(paths.end(), layout.dataFolders.begin(), layout.dataFolders.end());

    bool ok = true;
    for (const auto& path : paths) ok = removePath(path, out, err) && ok;
    return ok ? 0 : 1;
}

bool startsAtLogin() {
    const auto folders = userFolders();
    return folders && fs::exists(fs::symlink_status(perUserLayout(*folders).autostartEntry));
}

bool setStartAtLogin(bool on) {
    const auto folders = userFolders();
    if (!folders) return false;
    const fs::path entry = perUserLayout(*folders).autostartEntry;
    std::error_code error;
    if (!on) {
        fs::remove(entry, error);
        return !error;
    }
    const auto running = platform::runningBundleDir();
    const auto executable = running ? std::optional<fs::path>(*running / bundle::executable) : platform::runningExecutable();
    const auto text = executable ? autostartEntryFor(*executable) : std::nullopt;
    if (!text) return false;
    fs::create_directories(entry.parent_path(), error);
    return !error && core::replaceFile(entry, *text, fileMode, core::Flush::toDisk);
}

}  // namespace install
