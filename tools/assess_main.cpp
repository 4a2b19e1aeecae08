// tolvar-assess: decides whether a Tolvar.app bundle may run on this machine.
//
//   tolvar-assess -a -t exec -vv BUNDLE
//
// A bundle is accepted only when its signature verifies, its main executable is an ELF file built
// for this machine's architecture, and no entry is set-uid, set-gid, group- or world-writable.
// Prints "BUNDLE: accepted" or "BUNDLE: rejected" with the reason; exit status 0 means accepted.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/BundleSignature.h"

namespace fs = std::filesystem;

namespace {

constexpr int rejectedStatus = 3;

// The ELF class, byte order and machine of a file: bytes 4, 5 and 18-19 of its header.
std::optional<std::string> elfIdentity(const char* path, bool followLink = false) {
    const int fd = ::open(path, O_RDONLY | (followLink ? 0 : O_NOFOLLOW) | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    unsigned char header[20];
    const ssize_t got = ::read(fd, header, sizeof header);
    ::close(fd);
    if (got != static_cast<ssize_t>(sizeof header) || std::memcmp(header, "\x7f" "ELF", 4) != 0) return std::nullopt;
    return std::string{static_cast<char>(header[4]), static_cast<char>(header[5]), static_cast<char>(header[18]),
                       static_cast<char>(header[19])};
}

// The first entry (the bundle itself included) whose mode lets another user or group change it or
// raises privileges; nothing when there is none.
std::optional<std::string> unsafeEntry(const fs::path& bundle) {
    auto unsafe = [](const fs::path& path) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) return true;
        if (S_ISLNK(info.st_mode)) return false;
        return (info.st_mode & (S_ISUID | S_ISGID | S_IWGRP | S_IWOTH)) != 0;
    };
    if (unsafe(bundle)) return std::string(".");
    std::error_code error;
    for (fs::recursive_directory_iterator it(bundle, error), end; !error && it != end; it.increment(error)) {
        if (unsafe(it->path())) return fs::relative(it->path(), bundle).string();
    }
    if (error) return std::string("(unreadable folder)");
    return std::nullopt;
}

std::optional<std::string> rejection(const fs::path& bundle) {
    const auto verified = bundlesig::verify(bundle);
    if (!verified.ok) return "code signature invalid: " + verified.text;
    if (const auto entry = unsafeEntry(bundle)) {
        return "set-uid, set-gid or writable by others: " + bundlesig::printable(*entry);
    }
    const auto executable = bundlesig::infoValue(bundle, "CFBundleExecutable");
    if (!executable) return std::string("no main executable named in Info.json");
    const fs::path relative(*executable);
    if (relative.is_absolute() || relative.empty()) return std::string("the main executable is outside the bundle");
    for (const auto& part : relative) {
        if (part == "..") return std::string("the main executable is outside the bundle");
    }
    // Every folder on the way and the file itself are plain entries, not links.
    fs::path walked = bundle;
    for (const auto& part : relative) {
        walked /= part;
        struct stat info {};
        if (::lstat(walked.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) {
            return "the main executable is missing: " + bundlesig::printable(*executable);
        }
    }
    struct stat info {};
    if (::lstat(walked.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & S_IXUSR) == 0) {
        return "the main executable is not an executable file: " + bundlesig::printable(*executable);
    }
    const auto ours = elfIdentity("/proc/self/exe", true);
    const auto theirs = elfIdentity(walked.c_str());
    if (!theirs) return "the main executable is not an ELF program: " + bundlesig::printable(*executable);
    if (!ours || *ours != *theirs) return std::string("the main executable is built for another architecture");
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool assess = false, exec = false;
    std::vector<std::string> bundles;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-a" || args[i] == "--assess") assess = true;
        else if (args[i] == "-t" && i + 1 < args.size()) exec = args[++i] == "exec";
        else if (args[i] == "-v" || args[i] == "-vv") continue;
        else if (args[i].starts_with("-")) exec = false, assess = false;
        else bundles.push_back(args[i]);
    }
    if (!assess || !exec || bundles.size() != 1) {
        std::fprintf(stderr, "usage: tolvar-assess -a -t exec -vv BUNDLE\n");
        return 2;
    }
    const auto shown = bundlesig::printable(bundles[0]);
    if (const auto reason = rejection(bundles[0])) {
        std::fprintf(stderr, "%s: rejected\nsource=%s\n", shown.c_str(), bundlesig::printable(*reason).c_str());
        return rejectedStatus;
    }
    const auto team = bundlesig::claimedTeam(bundles[0]);
    std::fprintf(stderr, "%s: accepted\nsource=Tolvar signed bundle\norigin=%s\n", shown.c_str(),
                 team ? team->c_str() : "?");
    return 0;
}
