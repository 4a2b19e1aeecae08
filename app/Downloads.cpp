#include "app/Downloads.h"

namespace Downloads {
namespace {

// The longest file name (in bytes) that common Linux file systems accept.
constexpr std::size_t maximumNameBytes = 255;
constexpr std::string_view automationPrefix = "download-";
// An extension longer than this is treated as part of the name when shortening.
constexpr std::size_t longestKeptExtension = 16;

// Cuts `text` to at most `bytes` bytes without splitting a UTF-8 sequence.
std::string cutAtCharacterBoundary(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::string shortened(const std::string& name, std::size_t limit) {
    if (name.size() <= limit) return name;
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= longestKeptExtension) {
        const std::string extension = name.substr(dot);
        return cutAtCharacterBoundary(name.substr(0, dot), limit - extension.size()) + extension;
    }
    return cutAtCharacterBoundary(name, limit);
}

}  // namespace

std::string plainFileName(const std::string& suggestedFilename) {
    std::string name = suggestedFilename;
    while (!name.empty() && name.back() == '/') name.pop_back();
    if (const auto slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
    return shortened(name, maximumNameBytes - automationPrefix.size());
}

std::filesystem::path automationDestination(const std::filesystem::path& automationDir,
                                            const std::string& suggestedFilename) {
    // After the prefix even "", "." and ".." are ordinary names ("download-..") inside the folder.
    return automationDir / (std::string(automationPrefix) + plainFileName(suggestedFilename));
}

std::filesystem::path automationUpload(const std::string& uploadVariable,
                                       const std::filesystem::path& currentDirectory) {
    const std::filesystem::path path(uploadVariable);
    if (path.is_absolute()) return path;
    return uploadVariable.empty() ? currentDirectory : currentDirectory / path;
}

std::string lastPathComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    if (trimmed == "/") return trimmed;
    const auto slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace Downloads
