#include "install/BundleCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "core/ApplicationId.h"
#include "install/Layout.h"
#include "core/Json.h"
#include "update/SelfUpdate.h"

namespace install {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view executable = "bin/tolvar";
// The application that bin/tolvar starts.
constexpr std::string_view application = "libexec/tolvar-app";
constexpr off_t largestInfo = 1 << 20;

std::optional<nlohmann::json> readInfo(const fs::path& bundle) {
    const fs::path info = bundle / "Info.json";
    struct stat status {};
    if (::lstat(info.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > largestInfo) {
        return std::nullopt;
    }
    std::ifstream in(info, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto parsed = core::parseJSON(text);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    return parsed;
}

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
    std::vector<fs::path> files{fs::path("libexec") / "tolvar-codesign", fs::path("libexec") / "tolvar-assess",
                                fs::path("libexec") / "tolvar-capture-host", bundledLauncherEntry(),
                                bundledMetainfo()};
    for (const auto& icon : iconFiles()) files.push_back(fs::path("share") / "icons" / "hicolor" / icon);
    return files;
}

std::optional<std::string> whySignatureFails(const fs::path& bundle) {
    const fs::path tools = bundle / "libexec";
    const auto signature = SelfUpdate::run((tools / "tolvar-codesign").string(),
                                           {"--verify", "--deep", "--strict", bundle.string()});
    if (signature.status != 0) return "its signature does not verify";
    const auto assessment = SelfUpdate::run((tools / "tolvar-assess").string(), {"-a", "-t", "exec", "-vv", bundle.string()});
    if (assessment.status != 0) return "tolvar-assess rejects it";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> whyNotATolvarApp(const fs::path& bundle) {
    const auto info = readInfo(bundle);
    if (!info) return "no readable Info.json";
    if (textField(*info, "CFBundleIdentifier") != core::applicationId) {
        return "Info.json names \"" + textField(*info, "CFBundleIdentifier") + "\", not " + std::string(core::applicationId);
    }
    if (textField(*info, "CFBundleShortVersionString").empty()) return "Info.json names no version";
    if (textField(*info, "CFBundleExecutable") != executable) return "Info.json names another executable";
    if (!isExecutableELF(bundle / executable)) return "bin/tolvar is not an executable ELF file";
    if (!isExecutableELF(bundle / application)) return "libexec/tolvar-app is not an executable ELF file";
    for (const auto& file : requiredFiles()) {
        if (!isRegularFile(bundle / file)) return file.string() + " is missing";
    }
    if (fs::exists(fs::symlink_status(bundle / "_CodeSignature"))) return whySignatureFails(bundle);
    return std::nullopt;
}

std::string bundleVersion(const fs::path& bundle) {
    const auto info = readInfo(bundle);
    return info ? textField(*info, "CFBundleShortVersionString") : std::string();
}

}  // namespace install
