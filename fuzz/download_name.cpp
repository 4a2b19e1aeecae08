// Download names cleaned from what a page suggests: the file always lands directly in the folder.
#include <cstdint>
#include <cstdlib>

#include "app/Downloads.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string suggested(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path folder = "/automation";
    const auto destination = Downloads::automationDestination(folder, suggested);
    if (destination.parent_path() != folder) std::abort();
    const auto name = destination.filename().string();
    if (name == "." || name == ".." || name.find('/') != std::string::npos) std::abort();
    Downloads::lastPathComponent(suggested);
    return 0;
}
