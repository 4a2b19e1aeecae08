// A bundle's signature files as the signing tools read them: the input, split at its first empty
// line, becomes the signature file and the sealed manifest of a small bundle.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tools/BundleSignature.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fs::path bundle = [] {
        const fs::path made = fs::temp_directory_path() / ("tolvar-fuzz-bundle-" + std::to_string(::getpid()));
        fs::create_directories(made / "_CodeSignature");
        fs::permissions(made, fs::perms(0755));
        fs::permissions(made / "_CodeSignature", fs::perms(0755));
        std::ofstream(made / "Info.json") << R"({"CFBundleShortVersionString":"1.0"})";
        fs::permissions(made / "Info.json", fs::perms(0644));
        static const fs::path removed = made;
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(removed, ignored);
        });
        return made;
    }();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto split = std::min(text.find("\n\n"), size);
    const auto write = [](const fs::path& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        fs::permissions(file, fs::perms(0644));
    };
    write(bundle / "_CodeSignature" / "CodeSignature", text.substr(0, split));
    write(bundle / "_CodeSignature" / "CodeResources", text.substr(std::min(split + 2, size)));
    bundlesig::claimedTeam(bundle);
    if (bundlesig::verify(bundle).ok) std::abort();  // nobody holds a key to this bundle
    bundlesig::infoValue(bundle, "CFBundleShortVersionString");
    return 0;
}
