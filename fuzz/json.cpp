// The depth-limited JSON parser: never crashes, and what it accepts can be written out again.
#include <cstdint>
#include <cstdlib>

#include "core/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parsed = core::parseJSON(std::string_view(reinterpret_cast<const char*>(data), size));
    if (parsed && core::parseJSON(parsed->dump()) != parsed) std::abort();
    return 0;
}
