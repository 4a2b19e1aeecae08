#include "bundle/Description.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "bundle/Tools.h"
#include "core/ApplicationId.h"
#include "core/Json.h"

namespace bundle {
namespace fs = std::filesystem;

namespace {

// Info.json is a few hundred bytes; anything past this is not a bundle description.
constexpr off_t largestInfo = 1 << 20;
constexpr int iconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256, 512};
constexpr int symbolicSizes[] = {16, 22, 24, 32};

std::string id() { return std::string(core::applicationId); }

std::string textField(const nlohmann::json& info, const char* key) {
    const auto found = info.find(key);
    return found != info.end() && found->is_string() ? found->get<std::string>() : std::string();
}

bool isRegularFile(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool isExecutableELF(const fs::path& path) {
    if (!isRegularFile(path) || ::access(path.c_str(), X_OK) != 0) return false;
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    in.read(magic, 4);
    return in.gcount() == 4 && std::string_view(magic, 4) == "\x7f" "ELF";
}

std::vector<fs::path> requiredFiles() {
    std::vector<fs::path> files{toolsFolder / "tolvar-codesign", toolsFolder / "tolvar-assess",
                                toolsFolder / "tolvar-capture-host", launcherEntry(), metainfo()};
    for (const auto& icon : iconFiles()) files.push_back(iconTheme / icon);
    return files;
}

std::optional<std::string> whySignatureFails(const fs::path& bundle) {
    const Tools tools(bundle / toolsFolder);
    if (tools.verify(bundle).status != 0) return "its signature does not verify";
    if (tools.assess(bundle).status != 0) return "tolvar-assess rejects it";
    return std::nullopt;
}

}  // namespace

std::optional<Info> parseInfo(std::string_view json) {
    const auto parsed = core::parseJSON(json);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    return Info{.identifier = textField(*parsed, "CFBundleIdentifier"),
                .version = textField(*parsed, "CFBundleShortVersionString"),
                .executable = textField(*parsed, "CFBundleExecutable")};
}

std::optional<Info> readInfo(const fs::path& bundle) {
    const fs::path file = bundle / "Info.json";
    struct stat status {};
    if (::lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > largestInfo) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return parseInfo(text);
}

std::vector<fs::path> iconFiles() {
    std::vector<fs::path> files{fs::path("scalable") / "apps" / (id() + ".svg"),
                                fs::path("symbolic") / "apps" / (id() + "-symbolic.svg")};
    for (const int size : iconSizes) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        files.push_back(fs::path(folder) / "apps" / (id() + ".png"));
    }
    // Pictures of the symbolic icon at the status item's sizes, so drawing it needs no SVG loader.
    for (const int size : symbolicSizes) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        files.push_back(fs::path(folder) / "apps" / (id() + "-symbolic.png"));
    }
    return files;
}

fs::path metainfo() { return fs::path("share") / "metainfo" / (id() + ".metainfo.xml"); }
fs::path launcherEntry() { return fs::path("share") / "applications" / (id() + ".desktop"); }

std::optional<std::string> whyNotATolvarApp(const fs::path& bundle) {
    const auto info = readInfo(bundle);
    if (!info) return "no readable Info.json";
    if (info->identifier != core::applicationId) {
        return "Info.json names \"" + info->identifier + "\", not " + std::string(core::applicationId);
    }
    if (info->version.empty()) return "Info.json names no version";
    if (info->executable != executable.string()) return "Info.json names another executable";
    if (!isExecutableELF(bundle / executable)) return "bin/tolvar is not an executable ELF file";
    if (!isExecutableELF(bundle / application)) return "libexec/tolvar-app is not an executable ELF file";
    for (const auto& file : requiredFiles()) {
        if (!isRegularFile(bundle / file)) return file.string() + " is missing";
    }
    if (fs::exists(fs::symlink_status(bundle / "_CodeSignature"))) return whySignatureFails(bundle);
    return std::nullopt;
}

}  // namespace bundle
