#include "capture/ExtensionRoutes.h"

#include <nlohmann/json.hpp>

#include "capture/CaptureRules.h"
#include "core/Browsers.h"

namespace capture {
namespace fs = std::filesystem;

namespace {

// Firefox's application id, which names its folder of add-ons installed outside a profile.
constexpr std::string_view firefoxApplicationId = "{ec8030f7-c20a-464f-9b0e-13a3a9e97384}";

}  // namespace

fs::path bundledExtensionFolder(const fs::path& bundle) { return bundle / "share" / "browser-extension"; }
fs::path bundledUnpackedExtension(const fs::path& bundle) { return bundledExtensionFolder(bundle) / "unpacked"; }
fs::path bundledCrx(const fs::path& bundle) { return bundledExtensionFolder(bundle) / "tolvar-capture.crx"; }

fs::path bundledSignedXpi(const fs::path& bundle) {
    return bundledExtensionFolder(bundle) / "signed" / (std::string(firefoxExtensionId) + ".xpi");
}

std::optional<std::string> extensionVersion(std::string_view manifestText) {
    const auto manifest = nlohmann::json::parse(manifestText, nullptr, false);
    if (!manifest.is_object() || !manifest.contains("version") || !manifest["version"].is_string()) return std::nullopt;
    auto version = manifest["version"].get<std::string>();
    if (version.empty()) return std::nullopt;
    return version;
}

std::string externalCrxEntry(const fs::path& crx, std::string_view version) {
    const nlohmann::json entry{{"external_crx", crx.string()}, {"external_version", version}};
    return entry.dump(2) + "\n";
}

std::vector<ExtensionEntry> perUserExternalExtensions(const fs::path& crx, std::string_view version,
                                                      const fs::path& configHome) {
    const std::string fileName = std::string(chromiumExtensionId) + ".json";
    const std::string text = externalCrxEntry(crx, version);
    std::vector<ExtensionEntry> entries;
    for (const auto& browser : core::browsers()) {
        if (!browser.runsOnLinux() || browser.configFolder.empty()) continue;
        entries.push_back({std::string(browser.key), configHome / browser.configFolder / "External Extensions" / fileName, text});
    }
    return entries;
}

fs::path firefoxUserExtensionFile(const fs::path& home) {
    return home / ".mozilla" / "extensions" / firefoxApplicationId / (std::string(firefoxExtensionId) + ".xpi");
}

}  // namespace capture
