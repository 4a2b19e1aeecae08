// Version feed decoding, and version comparison of the two halves of the input.
#include <cstdint>
#include <cstdlib>

#include "update/UpdateInfo.h"
#include "update/Version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto info = UpdateInfo::decode(text); info) isNewerVersion(info->version, "1.0");
    const auto a = text.substr(0, size / 2), b = text.substr(size / 2);
    // Never both newer than the other, and never newer than itself.
    if ((isNewerVersion(a, b) && isNewerVersion(b, a)) || isNewerVersion(a, a)) std::abort();
    return 0;
}
